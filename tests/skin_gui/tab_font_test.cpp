// The category tabs are sized from their labels' widths: the labels must be
// measured in the font they are drawn with, or they do not fit their tabs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skin/skin_lists_win.h"
#include "skin/skin_platform_win.h"
#include "skin_gui/skin_test_support.h"

namespace {

// Columns holding text ink (near-black pixels) in the rows [top, bottom).
std::vector<bool> InkColumns(const CPixels& p, int top, int bottom) {
  std::vector<bool> ink(static_cast<std::size_t>(p.Width()), false);
  for (int y = top; y < bottom && y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x) {
      const std::uint32_t c = p.At(x, y);
      if (((c >> 16) & 0xFF) < 70 && ((c >> 8) & 0xFF) < 70 && (c & 0xFF) < 70) ink[x] = true;
    }
  return ink;
}

// Widths of the runs of ink separated by more than `gap` blank columns.
std::vector<int> InkRuns(const std::vector<bool>& ink, int gap) {
  std::vector<int> runs;
  int start = -1, last = -1;
  for (int x = 0; x < static_cast<int>(ink.size()); ++x) {
    if (!ink[x]) continue;
    if (start >= 0 && x - last > gap) {
      runs.push_back(last - start + 1);
      start = -1;
    }
    if (start < 0) start = x;
    last = x;
  }
  if (start >= 0) runs.push_back(last - start + 1);
  return runs;
}

// A label drawn unclipped in `font`: its ink width.
int UnclippedInk(HFONT font, const std::wstring& text) {
  CMemorySurface surface(400, 60);
  RECT all{0, 0, 400, 60};
  ::FillRect(surface.Dc(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  HGDIOBJ old = ::SelectObject(surface.Dc(), font);
  ::SetBkMode(surface.Dc(), TRANSPARENT);
  ::SetTextColor(surface.Dc(), RGB(0, 0, 0));
  ::TextOutW(surface.Dc(), 10, 10, text.c_str(), static_cast<int>(text.size()));
  ::SelectObject(surface.Dc(), old);
  const std::vector<int> runs = InkRuns(InkColumns(surface.Read(), 0, 60), 400);
  return runs.empty() ? 0 : runs[0];
}

struct Case {
  const char* name;
  int parentFontHeight;  // the container's font; the tab strip keeps its own
};

TEST(SkinTabLabels, DrawnWholeInTheFontTheyAreMeasuredIn) {
  EnsureSkin();
  const std::vector<std::wstring> labels = {L"Mainland", L"WWW"};
  const Case cases[] = {{"larger container font", 17}, {"smaller container font", 9}, {"the same", 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CTestSkinDialog dialog;
    dialog.width = 500;
    dialog.height = 200;
    ASSERT_TRUE(dialog.Create());
    const std::wstring fontName = L"TabTestFont" + std::to_wstring(c.parentFontHeight);
    GetSkinAttributes().SetObject(fontName, GetSkinAttributes().Platform().CreateFont(c.parentFontHeight, 400, false, L""));
    CSkinWnd panel;
    panel.SetOwnString(L"Font", fontName);
    ASSERT_TRUE(CreateSkinPanel(panel, MakeRect(0, 0, 480, 180), dialog.Handle()));
    CSkinTabCtrl tabs;
    ASSERT_TRUE(tabs.Create(panel.Handle(), MakeRect(0, 0, 460, 160), 1));
    for (const std::wstring& label : labels) tabs.InsertTab({-1, label, L"", {}, nullptr});
    tabs.SetActiveTab(0);
    const HFONT drawn = reinterpret_cast<HFONT>(::SendMessageW(panel.Handle(), WM_GETFONT, 0, 0));
    ASSERT_EQ(drawn, SkinFont(fontName.c_str()));

    CMemorySurface strip(460, 160);
    ::SendMessageW(tabs.Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(strip.Dc()), PRF_CLIENT);
    const std::vector<int> runs = InkRuns(InkColumns(strip.Read(), 0, tabs.RowHeight()), 12);
    ASSERT_EQ(runs.size(), labels.size());
    for (std::size_t i = 0; i < labels.size(); ++i)
      EXPECT_NEAR(runs[i], UnclippedInk(drawn, labels[i]), 1) << "tab " << i;
    dialog.Destroy();
  }
}

}  // namespace
