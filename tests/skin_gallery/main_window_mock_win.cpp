#include "skin_gallery/main_window_mock_win.h"

#include "app/dlg_vpn_main_win.h"
#include "text/text_table.h"

int CDlgMainWindowMock::Controls() const { return static_cast<int>(buttons.size() + statics.size()) + 3; }

bool CDlgMainWindowMock::OnInitDialog() {
  SetText(L"Quillnet");
  SetSize(kWidth, kHeight);
  CSkinAttributes::IntRef(skinWindow.attributes, L"MaximizeBox") = 0;
  CSkinAttributes::SetString(skinWindow.attributes, L"CustomBackground", L"DlgVpnMain,0,0");
  CSkinAttributes::SetString(skinWindow.attributes, L"Title", L"");
  skinWindow.Attach(Handle());

  auto button = [&](const std::wstring& text, RECT r, int id, const wchar_t* prefix) -> CSkinButton& {
    buttons.push_back(std::make_unique<CSkinButton>());
    CreateSkinButton(*buttons.back(), text, r, Handle(), id, prefix);
    return *buttons.back();
  };
  auto text = [&](const std::wstring& caption, RECT r) -> CSkinStatic& {
    statics.push_back(std::make_unique<CSkinStatic>());
    CreateSkinStatic(*statics.back(), caption, r, Handle());
    return *statics.back();
  };
  const wchar_t* const news[] = {L"Loading news ...", L"New servers in three regions", L"Faster routes for games",
                                 L"Renew before the month ends for a bonus week"};
  for (int k = 0; k < 4; ++k) button(news[k], MakeRect(30, 124 + 19 * k, 310, 142 + 19 * k), 1036 + k, L"LinkButton");
  text(GetText("YourIP") + L":", MakeRect(40, 210, 95, 228));
  text(GetText("UnknownClientIP"), MakeRect(95, 210, 190, 228)).OwnInt(L"TextColor") = 5375;
  text(GetText("ExpiredDate") + L":", MakeRect(200, 210, 240, 228));
  text(GetText("ExpiredDateUnknown"), MakeRect(240, 210, 310, 228));
  text(GetText("Username"), MakeRect(32, 250, 87, 268)).SetOwnString(L"Align", L"Right");
  text(GetText("Password"), MakeRect(32, 280, 87, 298)).SetOwnString(L"Align", L"Right");
  CreateSkinEdit(account, MakeRect(114, 250, 260, 264), Handle(), 1001);
  CreateSkinEdit(password, MakeRect(114, 282, 260, 296), Handle(), 1002, ES_PASSWORD);
  ::SendMessageW(password.Handle(), EM_SETPASSWORDCHAR, L'*', 0);
  CreateSkinCheckBox(savePassword, GetText("SavePassword"), MakeRect(94, 310, 194, 325), Handle(), 1008);
  button(GetText("ForgotPassword"), MakeRect(200, 310, 290, 325), 1040, L"LinkButton");
  button(GetText("Connect"), MakeRect(40, 335, 160, 362), 1003, nullptr).SetOwnString(L"Icon", L"IconConnect");
  button(GetText("Disconnect"), MakeRect(170, 335, 290, 362), 1004, nullptr).SetOwnString(L"Icon", L"IconDisconnect");
  text(L"Ready(Version: 2.3.0.2)", MakeRect(72, 377, 305, 392));
  for (const WebButtonLayout& w : kWebButtons)
    button(GetText(w.key), WebButtonRect(w), w.id, w.prefix).SetOwnString(L"VAlign", L"Bottom");
  return true;
}
