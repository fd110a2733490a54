// Skinned controls drawn by the real GDI under Wine, each state checked in
// pixels. Synthetic cells of flat colours make the state each one drew plain.
#include <gtest/gtest.h>

#include <optional>

#include "skin/skin_platform_win.h"
#include "skin_gui/skin_test_support.h"

namespace {

constexpr std::uint32_t kFace[] = {0x2060C0, 0x3070D0, 0x104090, 0x909090};  // normal, hovered, pushed, disabled
constexpr std::uint32_t kIconNormal = 0xD02020, kIconDisabled = 0x20A020;

// BGRA pixels from 0xRRGGBB.
std::uint32_t Bgra(std::uint32_t rgb) { return 0xFF000000u | rgb; }

void RegisterPixelCells() {
  static bool done = [] {
    EnsureSkin();
    std::vector<std::uint32_t> faces(88 * 4 * 28);
    for (int y = 0; y < 28; ++y)
      for (int x = 0; x < 88 * 4; ++x) faces[y * 88 * 4 + x] = Bgra(kFace[x / 88]);
    GetSkinAttributes().RegisterDecodedImage(
        MakeSkinImage(88 * 4, 28, faces),
        L"PixelButton,0/4\nPixelButtonHovered,1/4\nPixelButtonPushed,2/4\nPixelButtonDisabled,3/4\n");
    std::vector<std::uint32_t> icons(20 * 10);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x) icons[y * 20 + x] = Bgra(x < 10 ? kIconNormal : kIconDisabled);
    GetSkinAttributes().RegisterDecodedImage(MakeSkinImage(20, 10, icons), L"PixelIcon,0/2\nPixelIconDisabled,1/2\n");
    return true;
  }();
  (void)done;
}

struct Box {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
  bool Empty() const { return right < 0; }
};
Box Find(const CPixels& p, std::uint32_t colour, int x0 = 0, int y0 = 0) {
  Box b;
  for (int y = y0; y < p.Height(); ++y)
    for (int x = x0; x < p.Width(); ++x)
      if (p.At(x, y) == colour) {
        b.left = std::min(b.left, x);
        b.top = std::min(b.top, y);
        b.right = std::max(b.right, x + 1);
        b.bottom = std::max(b.bottom, y + 1);
      }
  return b;
}

DRAWITEMSTRUCT Item(CWnd& control, HDC dc, int w, int h) {
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_BUTTON;
  item.itemAction = ODA_DRAWENTIRE;
  item.hwndItem = control.Handle();
  item.hDC = dc;
  item.rcItem = RECT{0, 0, w, h};
  if (!control.Enabled()) item.itemState |= ODS_DISABLED;
  return item;
}

enum State { kNormal, kHovered, kPushed, kDisabled };

void Put(CWnd& control, State state) {
  ::EnableWindow(control.Handle(), state != kDisabled);
  ::SendMessageW(control.Handle(), BM_SETSTATE, state == kPushed, 0);
  ::SendMessageW(control.Handle(), state == kHovered ? WM_MOUSEHOVER : WM_MOUSELEAVE, 0, 0);
}

class SkinControls : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPixelCells();
    dialog.width = 400;
    dialog.height = 200;
    ASSERT_TRUE(dialog.Create());
  }
  void TearDown() override { dialog.Destroy(); }

  CPixels DrawButton(CSkinButton& button, State state, int w = 88, int h = 28) {
    Put(button, state);
    if (state == kDisabled) ::SendMessageW(button.Handle(), WM_MOUSEHOVER, 0, 0);  // disabled wins over hovered
    CMemorySurface surface(w, h);
    button.DrawItem(Item(button, surface.Dc(), w, h));
    return surface.Read();
  }

  CTestSkinDialog dialog;
};

TEST_F(SkinControls, ButtonStatesTextAndPushOffset) {
  CSkinButton button;
  ASSERT_TRUE(CreateSkinButton(button, L"Connect", MakeRect(10, 60, 98, 88), dialog.Handle(), 1000, L"PixelButton"));
  button.OwnInt(L"TextColor") = RGB(255, 255, 255);
  std::optional<Box> normalText;
  for (State state : {kNormal, kHovered, kPushed, kDisabled}) {
    const CPixels p = DrawButton(button, state);
    EXPECT_EQ(p.At(2, 2), kFace[state]) << "state " << state;
    EXPECT_EQ(p.At(85, 25), kFace[state]) << "state " << state;
    const Box text = Find(p, 0xFFFFFF);
    ASSERT_FALSE(text.Empty()) << "state " << state;
    if (state == kNormal) normalText = text;
    if (state == kPushed) {
      EXPECT_EQ(text.left, normalText->left + 1);
      EXPECT_EQ(text.top, normalText->top + 1);
      EXPECT_EQ(text.right, normalText->right + 1);
      EXPECT_EQ(text.bottom, normalText->bottom + 1);
    }
  }
  // Centred: about as much room on either side.
  EXPECT_LE(std::abs(normalText->left - (88 - normalText->right)), 2);
}

TEST_F(SkinControls, PrefixChosenByIdentifier) {
  CSkinButton cancel, ok;
  ASSERT_TRUE(CreateSkinButton(cancel, L"Cancel", MakeRect(10, 60, 98, 88), dialog.Handle(), IDCANCEL));
  ASSERT_TRUE(CreateSkinButton(ok, L"OK", MakeRect(110, 60, 198, 88), dialog.Handle(), IDOK));
  const CPixels c = DrawButton(cancel, kNormal), o = DrawButton(ok, kNormal);
  EXPECT_EQ(cancel.skinPrefix, L"CancelButton");
  EXPECT_EQ(ok.skinPrefix, L"Button");
  EXPECT_FALSE(Find(c, 0x005686).Empty()) << "cancel ink (0,86,134)";
  EXPECT_FALSE(Find(o, 0xFFFFFF, 10, 6).Empty()) << "white button text";
  EXPECT_TRUE(::GetWindowLongPtrW(ok.Handle(), GWL_EXSTYLE) & WS_EX_TRANSPARENT);
}

TEST_F(SkinControls, IconFollowsStateAndPushesText) {
  CSkinButton button;
  ASSERT_TRUE(CreateSkinButton(button, L"Connect", MakeRect(10, 60, 130, 87), dialog.Handle(), 1003, L"PixelButton"));
  button.SetOwnString(L"Icon", L"PixelIcon");
  button.OwnInt(L"TextColor") = RGB(255, 255, 255);
  const CPixels normal = DrawButton(button, kNormal, 120, 27);
  const Box icon = Find(normal, kIconNormal);
  ASSERT_EQ(icon.right - icon.left, 10);
  EXPECT_TRUE(Find(normal, kIconDisabled).Empty());
  const Box text = Find(normal, 0xFFFFFF);
  EXPECT_EQ(text.left >= icon.right + 4, true) << "text starts after the icon";
  const CPixels disabled = DrawButton(button, kDisabled, 120, 27);
  EXPECT_TRUE(Find(disabled, kIconNormal).Empty());
  EXPECT_EQ(Find(disabled, kIconDisabled).left, icon.left);
  const CPixels pushed = DrawButton(button, kPushed, 120, 27);
  EXPECT_EQ(Find(pushed, kIconNormal).left, icon.left + 1);
  EXPECT_EQ(Find(pushed, kIconNormal).top, icon.top + 1);
}

TEST_F(SkinControls, BottomAlignedTextSitsTwoPixelsInside) {
  CSkinButton button;
  ASSERT_TRUE(CreateSkinButton(button, L"Help", MakeRect(10, 60, 65, 110), dialog.Handle(), 1000, L"PixelButton"));
  button.SetOwnString(L"VAlign", L"Bottom");
  button.OwnInt(L"TextColor") = RGB(255, 255, 255);
  const Box text = Find(DrawButton(button, kNormal, 55, 50), 0xFFFFFF);
  ASSERT_FALSE(text.Empty());
  EXPECT_LE(text.bottom, 48);
  EXPECT_GE(text.top, 30);
}

TEST_F(SkinControls, LinkButtonHoverColourAndUnderline) {
  CSkinButton link;
  ASSERT_TRUE(CreateSkinButton(link, L"Forgot password?", MakeRect(10, 60, 160, 78), dialog.Handle(), 1000,
                               L"LinkButton"));
  link.OwnInt(L"TextColor") = RGB(24, 98, 196);
  const CPixels normal = DrawButton(link, kNormal, 150, 18), hovered = DrawButton(link, kHovered, 150, 18);
  EXPECT_FALSE(Find(normal, 0x1862C4).Empty());
  EXPECT_TRUE(Find(normal, 0xEA5304).Empty());
  const Box orange = Find(hovered, 0xEA5304);
  ASSERT_FALSE(orange.Empty());
  EXPECT_LE(orange.left, 2) << "left-aligned";
  // The underline: one orange row as wide as the text.
  int longest = 0;
  for (int y = orange.top; y < orange.bottom; ++y) {
    int run = 0;
    for (int x = 0; x < 150; ++x) run += hovered.At(x, y) == 0xEA5304;
    longest = std::max(longest, run);
  }
  EXPECT_GT(longest, (orange.right - orange.left) * 8 / 10);
  // The hand cursor comes from the global attribute.
  EXPECT_EQ(::SendMessageW(link.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(link.Handle()), HTCLIENT), 1);
  EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
}

// The box each check and radio state draws is exactly that state's cell.
TEST_F(SkinControls, EveryCheckAndRadioStateDrawsItsCell) {
  CSkinCheckBox check;
  CSkinRadioBox radio;
  ASSERT_TRUE(CreateSkinCheckBox(check, L"Remember", MakeRect(10, 60, 110, 76), dialog.Handle(), 1100));
  ASSERT_TRUE(CreateSkinRadioBox(radio, L"Option", MakeRect(10, 90, 110, 106), dialog.Handle(), 1101, true));
  const wchar_t* const suffix[] = {L"", L"Hovered", L"Pushed", L"Disabled"};
  int distinct = 0;
  for (int checked = 0; checked < 2; ++checked)
    for (State state : {kNormal, kHovered, kPushed, kDisabled}) {
      for (int kind = 0; kind < 2; ++kind) {
        CSkinControl<CButton>& box = kind == 0 ? static_cast<CSkinControl<CButton>&>(check) : radio;
        const std::wstring prefix = kind == 0 ? L"CheckBox" : L"RadioBox";
        const std::wstring cellName = prefix + (checked ? L"Checked" : L"Unchecked") + suffix[state];
        box.SetCheck(checked ? BST_CHECKED : BST_UNCHECKED);
        Put(box, state);
        CMemorySurface surface(100, 16, RGB(239, 243, 244));
        DRAWITEMSTRUCT item = Item(box, surface.Dc(), 100, 16);
        if (kind == 1 && checked) item.itemState |= ODS_CHECKED;
        box.DrawItem(item);
        const CPixels got = surface.Read();
        const SkinCell& cell = GetSkinAttributes().GetCell(cellName);
        ASSERT_TRUE(cell.Drawable()) << std::string(cellName.begin(), cellName.end());
        CMemorySurface expected(cell.Width(), cell.Height(), RGB(255, 255, 255));
        GetSkinAttributes().DrawCell(expected.Dc(), cell, kCellNaturalSize, 0, 0, 0, 0);
        const CPixels want = expected.Read();
        int differ = 0;
        for (int y = 0; y < cell.Height(); ++y)
          for (int x = 0; x < cell.Width(); ++x) differ += got.At(x, y) != want.At(x, y);
        EXPECT_EQ(differ, 0) << std::string(cellName.begin(), cellName.end());
        if (state == kNormal && got.At(cell.Width() / 2, cell.Height() / 2) != want.At(0, 0)) ++distinct;
      }
    }
  EXPECT_GT(distinct, 0);
}

TEST_F(SkinControls, CheckBoxTogglesOnlyOnReleaseInsideOrSpace) {
  CSkinCheckBox check;
  ASSERT_TRUE(CreateSkinCheckBox(check, L"Remember", MakeRect(10, 60, 110, 76), dialog.Handle(), 1100));
  EXPECT_EQ(check.GetCheck(), 0);
  ::SendMessageW(check.Handle(), WM_MOUSEHOVER, 0, 0);
  ::SendMessageW(check.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::SendMessageW(check.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(300, 5));
  EXPECT_EQ(check.GetCheck(), 0) << "released outside";
  ::SendMessageW(check.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::SendMessageW(check.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(check.GetCheck(), 1) << "released inside";
  ::SendMessageW(check.Handle(), WM_KEYDOWN, VK_SPACE, 0);
  ::SendMessageW(check.Handle(), WM_KEYUP, VK_SPACE, 0xC0000000);
  EXPECT_EQ(check.GetCheck(), 0) << "space";
  ::SendMessageW(check.Handle(), WM_KEYDOWN, VK_SPACE, 1 << 30);  // auto-repeat
  EXPECT_EQ(check.GetCheck(), 0);
  check.SetCheck(BST_CHECKED);
  EXPECT_EQ(check.GetCheck(), 1);
}

TEST_F(SkinControls, HoverStateMachine) {
  CSkinButton button;
  ASSERT_TRUE(CreateSkinButton(button, L"OK", MakeRect(10, 60, 98, 88), dialog.Handle(), 1000, L"PixelButton"));
  EXPECT_EQ(button.hover, 0);
  ::SendMessageW(button.Handle(), WM_MOUSEHOVER, 0, 0);
  EXPECT_EQ(button.hover, 1);
  EXPECT_EQ(DrawButton(button, kHovered).At(2, 2), kFace[kHovered]);
  ::SendMessageW(button.Handle(), WM_MOUSELEAVE, 0, 0);
  EXPECT_EQ(button.hover, 0);
  // A control whose Cursor resolves to 0 leaves the cursor to the platform.
  EXPECT_NE(::SendMessageW(button.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(button.Handle()), HTCLIENT), 1);
}

TEST_F(SkinControls, StaticAlignmentAndIconWrap) {
  CSkinStatic left, right, tip;
  ASSERT_TRUE(CreateSkinStatic(left, L"Account", MakeRect(10, 60, 110, 78), dialog.Handle()));
  ASSERT_TRUE(CreateSkinStatic(right, L"Account", MakeRect(10, 80, 110, 98), dialog.Handle()));
  ASSERT_TRUE(CreateSkinStatic(tip, L"A long tip that wraps beside its icon onto a second line", MakeRect(10, 100, 170, 140),
                               dialog.Handle()));
  right.SetOwnString(L"Align", L"Right");
  tip.SetOwnString(L"Icon", L"PixelIcon");
  tip.SetOwnString(L"Align", L"Right");  // ignored beside an icon
  auto draw = [](CSkinStatic& s, int w, int h) {
    CMemorySurface surface(w, h);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_STATIC;
    item.hwndItem = s.Handle();
    item.hDC = surface.Dc();
    item.rcItem = RECT{0, 0, w, h};
    s.OwnInt(L"TextColor") = RGB(1, 2, 3);
    s.DrawItem(item);
    return surface.Read();
  };
  const Box l = Find(draw(left, 100, 18), 0x010203), r = Find(draw(right, 100, 18), 0x010203);
  ASSERT_FALSE(l.Empty());
  EXPECT_LE(l.left, 1);
  EXPECT_GE(r.right, 98);
  const CPixels t = draw(tip, 160, 40);
  const Box icon = Find(t, kIconNormal), text = Find(t, 0x010203);
  EXPECT_EQ(icon.left, 0);
  EXPECT_EQ(icon.top, 0);
  EXPECT_GE(text.left, icon.right + 4);
  EXPECT_GT(text.bottom - text.top, 20) << "two lines";
  EXPECT_TRUE(::GetWindowLongPtrW(tip.Handle(), GWL_STYLE) & SS_OWNERDRAW);
}

TEST_F(SkinControls, ImageButtonSizesToItsCell) {
  CSkinButton close, unskinned;
  ASSERT_TRUE(CreateImageButton(close, dialog.Handle(), L"SystemButtonClose"));
  ASSERT_TRUE(CreateImageButton(unskinned, dialog.Handle(), L"SystemButtonMaximize"));
  RECT a = close.ClientRect(), b = unskinned.ClientRect();
  EXPECT_EQ(a.right, 29);
  EXPECT_EQ(a.bottom, 19);
  EXPECT_EQ(b.right, 10);
  EXPECT_EQ(b.bottom, 10);
}

TEST_F(SkinControls, PanelsHandTheirBackgroundToChildren) {
  CSkinWnd panel;
  CSkinHeaderPanel header;
  ASSERT_TRUE(CreateSkinPanel(panel, MakeRect(10, 50, 200, 100), dialog.Handle()));
  ASSERT_TRUE(CreateSkinPanel(header, MakeRect(10, 100, 200, 190), dialog.Handle(), L"Route"));
  CSkinStatic inPanel, inHeader;
  ASSERT_TRUE(CreateSkinStatic(inPanel, L"x", MakeRect(5, 5, 50, 20), panel.Handle()));
  ASSERT_TRUE(CreateSkinStatic(inHeader, L"x", MakeRect(5, 40, 50, 55), header.Handle()));
  CMemorySurface a(45, 15), b(45, 15);
  EXPECT_EQ(::SendMessageW(panel.Handle(), WM_SKINBACKGROUND, reinterpret_cast<WPARAM>(a.Dc()),
                           reinterpret_cast<LPARAM>(inPanel.Handle())), 1);
  EXPECT_EQ(::SendMessageW(header.Handle(), WM_SKINBACKGROUND, reinterpret_cast<WPARAM>(b.Dc()),
                           reinterpret_cast<LPARAM>(inHeader.Handle())), 1);
  EXPECT_EQ(a.Read().At(20, 7), 0xEFF3F4u);
  EXPECT_EQ(b.Read().At(20, 7), 0xFFFFFFu);
  EXPECT_EQ(reinterpret_cast<HFONT>(::SendMessageW(panel.Handle(), WM_GETFONT, 0, 0)), SkinFont(L"DefaultFont"));
  EXPECT_EQ(::GetDlgCtrlID(panel.Handle()), 0xFFFF);
}

}  // namespace
