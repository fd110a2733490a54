// The skin window drawn by the real GDI under Wine: frame pieces, region,
// caption buttons, background hand-over.
#include <gtest/gtest.h>

#include "skin_gui/skin_test_support.h"

namespace {

constexpr int kFrame = 170;

// The background surface equals the frame image wherever a piece is drawn
// at its natural size.
TEST(SkinWindowPixels, FrameOf340WideDialogHasNoSeams) {
  EnsureSkin();
  const CPixels* frame = DecodeResourceImage(kFrame);
  ASSERT_NE(frame, nullptr);
  ASSERT_EQ(frame->Width(), 339);
  CTestSkinDialog dialog;
  dialog.width = 340;
  dialog.height = 90;
  ASSERT_TRUE(dialog.Create());
  const CPixels bg(dialog.skinWindow.BackgroundSurface(), 340, 90);
  // Top-left (0..299), top (300..329, unstretched at this width), top-right
  // (330..338): one image across the seams at 300 and 330.
  int mismatches = 0;
  for (int y : {0, 1, 10, 30, 46})
    for (int x = 0; x < 339; ++x)
      if (bg.At(x, y) != frame->At(x, y) && ++mismatches < 5)
        ADD_FAILURE() << "top band differs at " << x << "," << y << std::hex << ": " << bg.At(x, y) << " vs "
                      << frame->At(x, y);
  EXPECT_EQ(mismatches, 0);
  // Bottom corners at their natural size.
  for (int y = 0; y < 11; ++y) {
    for (int x = 0; x < 10; ++x) EXPECT_EQ(bg.At(x, 79 + y), frame->At(x, 60 + y)) << x << "," << y;
    for (int x = 0; x < 14; ++x) EXPECT_EQ(bg.At(325 + x, 79 + y), frame->At(325 + x, 60 + y)) << x << "," << y;
  }
  dialog.Destroy();
}

TEST(SkinWindowPixels, StretchedPiecesMeetWithoutSeams) {
  EnsureSkin();
  const CPixels* frame = DecodeResourceImage(kFrame);
  ASSERT_NE(frame, nullptr);
  CTestSkinDialog dialog;
  dialog.width = 600;
  dialog.height = 300;
  ASSERT_TRUE(dialog.Create());
  const CPixels bg(dialog.skinWindow.BackgroundSurface(), 600, 300);
  for (int y : {2, 20, 46}) {
    // The top piece stretched from 300 to 590 shows only its own columns.
    for (int x = 300; x < 590; ++x) {
      bool fromTop = false;
      for (int c = 300; c < 330 && !fromTop; ++c) fromTop = bg.At(x, y) == frame->At(c, y);
      EXPECT_TRUE(fromTop) << "stretched top at " << x << "," << y;
    }
    EXPECT_EQ(bg.At(299, y), frame->At(299, y));
    for (int k = 0; k < 9; ++k) EXPECT_EQ(bg.At(590 + k, y), frame->At(330 + k, y)) << k;
  }
  // The side edges stretched downwards show only their own column's pixels
  // (no blending, no dark rows), and the body is the background cell's colour.
  auto fromColumn = [&](int x, int y, int sourceX) {
    for (int r = 47; r < 61; ++r)
      if (bg.At(x, y) == frame->At(sourceX, r)) return true;
    return false;
  };
  for (int x = 0; x < 9; ++x)
    for (int y = 47; y < 289; ++y) ASSERT_TRUE(fromColumn(x, y, x)) << x << "," << y;
  for (int x = 585; x < 599; ++x)
    for (int y = 47; y < 289; ++y) ASSERT_TRUE(fromColumn(x, y, 325 + x - 585)) << x << "," << y;
  const std::uint32_t body = frame->At(16, 52);
  for (auto [x, y] : {std::pair{100, 100}, {300, 200}, {500, 250}}) EXPECT_EQ(bg.At(x, y), body);
  dialog.Destroy();
}

TEST(SkinWindowRegion, TopCornersRoundedBottomSquare) {
  EnsureSkin();
  CTestSkinDialog dialog;
  ASSERT_TRUE(dialog.Create());
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(::GetWindowRgn(dialog.Handle(), region), ERROR);
  EXPECT_FALSE(::PtInRegion(region, 0, 0));     // outside the rounded corner
  EXPECT_FALSE(::PtInRegion(region, 338, 0));
  EXPECT_TRUE(::PtInRegion(region, 170, 1));    // inside, along the top
  EXPECT_TRUE(::PtInRegion(region, 4, 4));
  EXPECT_TRUE(::PtInRegion(region, 0, 89));     // square bottom corners
  EXPECT_TRUE(::PtInRegion(region, 338, 89));
  EXPECT_FALSE(::PtInRegion(region, 339, 50));  // the column past the frame image
  ::DeleteObject(region);
  dialog.Destroy();
}

TEST(SkinWindowRegion, OwnRegionSurvivesResize) {
  EnsureSkin();
  CTestSkinDialog dialog;
  dialog.afterAttach = [](CTestSkinDialog& d) {
    ::SetWindowRgn(d.Handle(), ::CreateEllipticRgn(0, 0, 340, 90), FALSE);
  };
  ASSERT_TRUE(dialog.Create());
  ::SetWindowPos(dialog.Handle(), nullptr, 0, 0, 400, 120, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(::GetWindowRgn(dialog.Handle(), region), ERROR);
  // Still the ellipse of the old size, not the skin's rounded rectangle of the new one.
  RECT box{};
  ::GetRgnBox(region, &box);
  EXPECT_EQ(box.right, 339);
  EXPECT_EQ(box.bottom, 89);
  EXPECT_FALSE(::PtInRegion(region, 20, 10));
  EXPECT_TRUE(::PtInRegion(region, 170, 45));
  ::DeleteObject(region);
  dialog.Destroy();
}

TEST(SkinWindowCaption, ButtonsAndTitleArea) {
  EnsureSkin();
  struct Case {
    int minimize, maximize, close;
    int width;
  };
  for (const Case& c : {Case{1, 0, 1, 327}, Case{0, 0, 0, 425}, Case{1, 1, 1, 340}}) {
    CTestSkinDialog dialog;
    dialog.width = c.width;
    dialog.beforeAttach = [&](CTestSkinDialog& d) {
      CSkinAttributes::IntRef(d.skinWindow.attributes, L"MinimizeBox") = c.minimize;
      CSkinAttributes::IntRef(d.skinWindow.attributes, L"MaximizeBox") = c.maximize;
      CSkinAttributes::IntRef(d.skinWindow.attributes, L"CloseBox") = c.close;
    };
    ASSERT_TRUE(dialog.Create());
    CSkinWindow& skin = dialog.skinWindow;
    int x = c.width - 8;
    if (c.close) {
      const RECT r = skin.CloseButton()->RectInParent();
      EXPECT_EQ(r.left, x - 29);
      EXPECT_EQ(r.right - r.left, 29);
      EXPECT_EQ(r.bottom - r.top, 19);
      EXPECT_EQ(r.top, 0);
      x -= 29;
    } else {
      EXPECT_EQ(skin.CloseButton(), nullptr);
    }
    if (c.maximize) {
      // No cells: 10x10, the maximize one shown while not maximised.
      const RECT r = skin.MaximizeButton()->RectInParent();
      EXPECT_EQ(r.left, x - 10);
      EXPECT_EQ(r.right - r.left, 10);
      EXPECT_FALSE(::IsWindowVisible(skin.RestoreButton()->Handle()) &&
                   (::GetWindowLongPtrW(skin.RestoreButton()->Handle(), GWL_STYLE) & WS_VISIBLE));
      x -= 10;
    }
    if (c.minimize) {
      const RECT r = skin.MinimizeButton()->RectInParent();
      EXPECT_EQ(r.left, x - 27);
      EXPECT_EQ(r.right - r.left, 27);
      x -= 27;
      EXPECT_TRUE(::GetWindowLongPtrW(dialog.Handle(), GWL_STYLE) & WS_MINIMIZEBOX);
    }
    EXPECT_EQ(skin.TitleRect().left, 0);
    EXPECT_EQ(skin.TitleRect().right, x) << c.width;
    EXPECT_EQ(skin.TitleRect().bottom, 25);
    // The title area is a caption, the rest client.
    RECT window{};
    ::GetWindowRect(dialog.Handle(), &window);
    EXPECT_EQ(::SendMessageW(dialog.Handle(), WM_NCHITTEST, 0, MAKELPARAM(window.left + 5, window.top + 5)), HTCAPTION);
    EXPECT_EQ(::SendMessageW(dialog.Handle(), WM_NCHITTEST, 0, MAKELPARAM(window.left + 5, window.top + 40)), HTCLIENT);
    // A double-click on the caption is swallowed.
    EXPECT_EQ(::SendMessageW(dialog.Handle(), WM_NCLBUTTONDBLCLK, HTCAPTION, 0), 0);
    EXPECT_FALSE(::IsZoomed(dialog.Handle()));
    dialog.Destroy();
  }
}

TEST(SkinWindowCaption, CloseButtonSendsSystemClose) {
  EnsureSkin();
  struct CClosing : CTestSkinDialog {
    int cancels = 0;
    void OnCancel() override { ++cancels; }
  } dialog;
  ASSERT_TRUE(dialog.Create());
  HWND close = dialog.skinWindow.CloseButton()->Handle();
  ::SendMessageW(dialog.Handle(), WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(close));
  EXPECT_EQ(dialog.cancels, 1);  // SC_CLOSE → WM_CLOSE → cancel
  dialog.Destroy();
}

TEST(SkinWindowBackground, ChildGetsThePixelsUnderIt) {
  EnsureSkin();
  CTestSkinDialog dialog;
  dialog.width = 340;
  dialog.height = 200;
  ASSERT_TRUE(dialog.Create());
  HWND child = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 70, 65, 40, 30, dialog.Handle(), nullptr,
                                 nullptr, nullptr);
  CMemorySurface surface(40, 30);
  EXPECT_EQ(::SendMessageW(dialog.Handle(), WM_SKINBACKGROUND, reinterpret_cast<WPARAM>(surface.Dc()),
                           reinterpret_cast<LPARAM>(child)),
            1);
  const CPixels got = surface.Read();
  const CPixels bg(dialog.skinWindow.BackgroundSurface(), 340, 200);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(got.At(x, y), bg.At(70 + x, 65 + y)) << x << "," << y;
  // Place the child across the title band too: the band's pixels arrive.
  ::MoveWindow(child, 10, 5, 40, 30, FALSE);
  ::SendMessageW(dialog.Handle(), WM_SKINBACKGROUND, reinterpret_cast<WPARAM>(surface.Dc()),
                 reinterpret_cast<LPARAM>(child));
  EXPECT_EQ(surface.Read().At(0, 0), bg.At(10, 5));
  dialog.Destroy();
}

TEST(SkinWindowBackground, CustomBackgroundAndTitle) {
  EnsureSkin();
  const CPixels* picture = DecodeResourceImage(167);
  ASSERT_NE(picture, nullptr);
  CTestSkinDialog dialog;
  dialog.width = 327;
  dialog.height = 464;
  dialog.beforeAttach = [](CTestSkinDialog& d) {
    CSkinAttributes::SetString(d.skinWindow.attributes, L"CustomBackground", L"DlgVpnMain,0,0");
    CSkinAttributes::SetString(d.skinWindow.attributes, L"Title", L"");
  };
  ASSERT_TRUE(dialog.Create());
  const CPixels bg(dialog.skinWindow.BackgroundSurface(), 327, 464);
  int differ = 0;
  for (int y = 0; y < 464; y += 7)
    for (int x = 0; x < 326; x += 5) differ += bg.At(x, y) != picture->At(x, y);
  EXPECT_EQ(differ, 0);
  dialog.Destroy();

  // A title is drawn in the title colour from (40,10).
  CTestSkinDialog titled;
  titled.beforeAttach = [](CTestSkinDialog& d) { CSkinAttributes::SetString(d.skinWindow.attributes, L"Title", L"MMMM"); };
  ASSERT_TRUE(titled.Create());
  CTestSkinDialog untitled;
  untitled.beforeAttach = [](CTestSkinDialog& d) { CSkinAttributes::SetString(d.skinWindow.attributes, L"Title", L""); };
  ASSERT_TRUE(untitled.Create());
  const CPixels a(titled.skinWindow.BackgroundSurface(), 340, 90), b(untitled.skinWindow.BackgroundSurface(), 340, 90);
  int changed = 0, beforeTitle = 0;
  for (int y = 0; y < 47; ++y)
    for (int x = 0; x < 340; ++x)
      if (a.At(x, y) != b.At(x, y)) (x < 40 || y < 10 ? beforeTitle : changed)++;
  EXPECT_GT(changed, 20);
  EXPECT_EQ(beforeTitle, 0);
  titled.Destroy();
  untitled.Destroy();
}

}  // namespace
