#include "skin_gallery/gallery_dialog_win.h"

#include <string>

namespace {

constexpr GalleryState kStates[] = {GalleryState::Normal, GalleryState::Hovered, GalleryState::Pushed,
                                    GalleryState::Disabled};
constexpr const wchar_t* kStateNames[] = {L"Normal", L"Hovered", L"Pushed", L"Disabled"};

constexpr int kLabelX = 20;
constexpr int kColumnX = 112;
constexpr int kColumnStep = 128;

}  // namespace

void ForceState(HWND control, GalleryState state) {
  switch (state) {
    case GalleryState::Normal:
      break;
    case GalleryState::Hovered:
      ::SendMessageW(control, WM_MOUSEHOVER, 0, 0);
      break;
    case GalleryState::Pushed:
      ::SendMessageW(control, BM_SETSTATE, TRUE, 0);
      break;
    case GalleryState::Disabled:
      ::EnableWindow(control, FALSE);
      break;
  }
}

CSkinButton& CDlgSkinGallery::AddButton(const std::wstring& text, int x, int y, int w, int h, const wchar_t* prefix,
                                        int id, HWND parent) {
  buttons.push_back(std::make_unique<CSkinButton>());
  CreateSkinButton(*buttons.back(), text, MakeRect(x, y, x + w, y + h), parent ? parent : Handle(), id, prefix);
  return *buttons.back();
}

CSkinStatic& CDlgSkinGallery::AddStatic(const std::wstring& text, int x, int y, int w, int h, HWND parent) {
  statics.push_back(std::make_unique<CSkinStatic>());
  CreateSkinStatic(*statics.back(), text, MakeRect(x, y, x + w, y + h), parent ? parent : Handle());
  return *statics.back();
}

bool CDlgSkinGallery::OnInitDialog() {
  HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  SetText(L"Quillnet skin gallery at " + std::to_wstring(dpi) + L" dpi");
  SetSize(kWidth, kHeight);
  CSkinAttributes::IntRef(skinWindow.attributes, L"MaximizeBox") = 0;
  skinWindow.Attach(Handle());

  for (int k = 0; k < 4; ++k) AddStatic(kStateNames[k], kColumnX + kColumnStep * k, 52, 120, 18);
  auto row = [&](const wchar_t* label, int y, int height, auto&& make) {
    AddStatic(label, kLabelX, y, kColumnX - kLabelX - 6, height);
    for (int k = 0; k < 4; ++k) forced_.emplace_back(make(kColumnX + kColumnStep * k, y, k), kStates[k]);
  };

  row(L"Button", 74, 28, [&](int x, int y, int) { return AddButton(L"OK", x, y, 88, 28, nullptr).Handle(); });
  row(L"Cancel", 108, 28, [&](int x, int y, int) { return AddButton(L"Cancel", x, y, 88, 28, nullptr, IDCANCEL).Handle(); });
  row(L"Icon", 142, 28, [&](int x, int y, int) {
    CSkinButton& b = AddButton(L"Connect", x, y, 120, 27, nullptr);
    b.SetOwnString(L"Icon", L"IconConnect");
    return b.Handle();
  });
  row(L"", 176, 28, [&](int x, int y, int) {
    CSkinButton& b = AddButton(L"Disconnect", x, y, 120, 27, nullptr);
    b.SetOwnString(L"Icon", L"IconDisconnect");
    return b.Handle();
  });
  row(L"Link", 212, 18, [&](int x, int y, int) {
    CSkinButton& b = AddButton(L"Forgot password?", x, y, 120, 18, L"LinkButton");
    b.OwnInt(L"TextColor") = RGB(24, 98, 196);
    return b.Handle();
  });
  row(L"Check box", 238, 16, [&](int x, int y, int) {
    checkBoxes.push_back(std::make_unique<CSkinCheckBox>());
    CreateSkinCheckBox(*checkBoxes.back(), L"Remember", MakeRect(x, y, x + 88, y + 16), Handle(), 1100);
    return checkBoxes.back()->Handle();
  });
  row(L"", 260, 16, [&](int x, int y, int) {
    checkBoxes.push_back(std::make_unique<CSkinCheckBox>());
    CreateSkinCheckBox(*checkBoxes.back(), L"Remember", MakeRect(x, y, x + 88, y + 16), Handle(), 1101);
    checkBoxes.back()->SetCheck(BST_CHECKED);
    return checkBoxes.back()->Handle();
  });

  AddStatic(L"Edit", kLabelX, 288, 80, 20);
  for (int k = 0; k < 3; ++k) {
    edits.push_back(std::make_unique<CSkinEdit>());
    const int x = kColumnX + kColumnStep * k;
    CreateSkinEdit(*edits.back(), MakeRect(x, 288, x + 120, 308), Handle(), 1200 + k, k == 1 ? ES_PASSWORD : 0);
  }
  edits[0]->SetText(L"account-name");
  edits[1]->SetText(L"secret");
  edits[2]->SetText(L"disabled");
  edits[2]->Enable(false);

  AddStatic(L"Static", kLabelX, 318, 80, 18);
  AddStatic(L"Left aligned", kColumnX, 318, 88, 18);
  CSkinStatic& right = AddStatic(L"Right aligned", kColumnX + kColumnStep, 318, 120, 18);
  right.SetOwnString(L"Align", L"Right");
  CSkinStatic& coloured = AddStatic(L"203.0.113.7", kColumnX + kColumnStep * 2, 318, 88, 18);
  coloured.OwnInt(L"TextColor") = 5375;
  CSkinStatic& tip = AddStatic(L"Tip 1/3. A static with an icon wraps its text beside the icon, over as many lines as "
                               L"it needs.",
                               kColumnX, 340, 500, 32);
  tip.SetOwnString(L"Icon", L"IconTipInfo");

  AddStatic(L"Panel", kLabelX, 384, 80, 18);
  CreateSkinPanel(panel, MakeRect(kColumnX, 380, kColumnX + 500, 420), Handle());
  checkBoxes.push_back(std::make_unique<CSkinCheckBox>());
  CreateSkinCheckBox(*checkBoxes.back(), L"Inside a panel", MakeRect(10, 12, 130, 28), panel.Handle(), 1102);
  AddButton(L"Link in a panel", 150, 11, 120, 18, L"LinkButton", 1103, panel.Handle());

  AddStatic(L"Header panel", kLabelX, 440, 88, 18);
  CreateSkinPanel(headerPanel, MakeRect(kColumnX, 436, kColumnX + 500, 580), Handle(), L"Route");
  headerPanel.SetOwnString(L"Icon", L"IconVpnPolicyRoute");
  // Each checked box is a group of its own: checking an automatic radio box
  // unchecks the rest of its group.
  for (int line = 0; line < 2; ++line)
    for (int k = 0; k < 4; ++k) {
      radioBoxes.push_back(std::make_unique<CSkinRadioBox>());
      const int x = 10 + 120 * k, y = 40 + 26 * line;
      CreateSkinRadioBox(*radioBoxes.back(), line ? L"Checked" : L"Option", MakeRect(x, y, x + 110, y + 16),
                         headerPanel.Handle(), 1300 + line * 4 + k, k == 0 || line == 1);
      if (line) radioBoxes.back()->SetCheck(BST_CHECKED);
      forced_.emplace_back(radioBoxes.back()->Handle(), kStates[k]);
    }
  AddStatic(L"Statics and check boxes on the white panel:", 10, 96, 350, 18, headerPanel.Handle());
  checkBoxes.push_back(std::make_unique<CSkinCheckBox>());
  CreateSkinCheckBox(*checkBoxes.back(), L"Force binding", MakeRect(10, 118, 150, 134), headerPanel.Handle(), 1104);

  // Right-hand column: web buttons, caption buttons, icons.
  const int rx = 660;
  AddStatic(L"Web buttons: normal, hovered, pushed", rx, 52, 280, 18);
  const wchar_t* const web[] = {L"ButtonReg", L"ButtonPurchase", L"ButtonFreeTrial", L"ButtonHelp", L"ButtonSupport"};
  const wchar_t* const webText[] = {L"Register", L"Purchase", L"Free trial", L"Help", L"Support"};
  for (int state = 0; state < 3; ++state)
    for (int k = 0; k < 5; ++k) {
      CSkinButton& b = AddButton(webText[k], rx + 58 * k, 74 + 54 * state, 55, 50, web[k]);
      b.SetOwnString(L"VAlign", L"Bottom");
      b.OwnInt(L"TextColor") = RGB(6, 56, 157);
      forced_.emplace_back(b.Handle(), kStates[state]);
    }

  AddStatic(L"Caption buttons: normal, hovered, pushed", rx, 244, 280, 18);
  for (int state = 0; state < 3; ++state) {
    buttons.push_back(std::make_unique<CSkinButton>());
    CreateImageButton(*buttons.back(), Handle(), L"SystemButtonMinimize");
    ::SetWindowPos(buttons.back()->Handle(), nullptr, rx + 66 * state, 266, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    forced_.emplace_back(buttons.back()->Handle(), kStates[state]);
    buttons.push_back(std::make_unique<CSkinButton>());
    CreateImageButton(*buttons.back(), Handle(), L"SystemButtonClose");
    ::SetWindowPos(buttons.back()->Handle(), nullptr, rx + 66 * state + 29, 266, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    forced_.emplace_back(buttons.back()->Handle(), kStates[state]);
  }

  AddStatic(L"Icons beside texts", rx, 300, 280, 18);
  const std::pair<const wchar_t*, const wchar_t*> icons[] = {
      {L"FlagChina", L"China"},          {L"FlagAsia", L"Asia"},          {L"FlagUSA", L"USA"},
      {L"IconSpeedTestGood", L"38 ms"},  {L"IconSpeedTestNormal", L"160 ms"}, {L"IconSpeedTestBad", L"420 ms"},
      {L"IconSpeedTestTimeout", L"Timeout"}, {L"IconSpeedTestTesting", L"Testing"},
      {L"IconVpnAppStatusActive", L"Active"}, {L"IconVpnAppStatusInactive", L"Inactive"},
      {L"IconVpnPolicyRoute", L"Route"}, {L"IconVpnPolicyType", L"Type"}, {L"IconVpnPolicyRefresh", L"Refresh"},
  };
  int k = 0;
  for (const auto& [icon, text] : icons) {
    CSkinStatic& s = AddStatic(text, rx + 95 * (k % 3), 324 + 24 * (k / 3), 92, 20);
    s.SetOwnString(L"Icon", icon);
    ++k;
  }
  CSkinStatic& update = AddStatic(L"A new version is ready to install.", rx, 452, 280, 40);
  update.SetOwnString(L"Icon", L"IconOnlineUpdate");

  ForceStates();
  return true;
}

void CDlgSkinGallery::ForceStates() {
  for (const auto& [control, state] : forced_) ForceState(control, state);
}
