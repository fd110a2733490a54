#include "skin/list_logic.h"

#include <gtest/gtest.h>

#include "skin/tab_logic.h"

// Rectangles print readably in failures.
void PrintTo(const ListRect& r, std::ostream* os) {
  *os << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}

namespace {

TEST(ListLogic, RowColours) {
  struct Case {
    int row;
    bool selected;
    ListColor color;
  } cases[] = {{0, false, ListRgb(232, 239, 248)}, {1, false, ListRgb(255, 255, 255)}, {2, false, ListRgb(232, 239, 248)},
               {7, false, ListRgb(255, 255, 255)}, {0, true, ListRgb(133, 186, 220)},  {1, true, ListRgb(133, 186, 220)}};
  for (const Case& c : cases) EXPECT_EQ(ListRowColor(c.row, c.selected), c.color) << c.row << c.selected;
  EXPECT_EQ(ListRgb(133, 186, 220), 0x00DCBA85u);  // the registry's 0x00BBGGRR
  EXPECT_EQ(ListBoxItemColor(true), ListRgb(133, 186, 220));
  EXPECT_EQ(ListBoxItemColor(false), ListRgb(255, 255, 255));
}

TEST(ListLogic, SortToggle) {
  ListSortOrder order;
  struct Step {
    int click;
    int column, direction;
  } steps[] = {{0, 0, -1}, {0, 0, 1}, {2, 2, 1}, {2, 2, -1}, {1, 1, 1}, {2, 2, 1}};
  for (const Step& s : steps) {
    order.Click(s.click);
    EXPECT_EQ(order.column, s.column);
    EXPECT_EQ(order.direction, s.direction) << "click " << s.click;
  }
  order.Reset();
  EXPECT_EQ(order.column, 0);
  EXPECT_EQ(order.direction, 1);
}

TEST(ListLogic, CellLayout) {
  struct Case {
    const char* name;
    ListCellInput in;
    ListRect text;
    bool checkBox, image;
    ListRect box;
    int imageX;
    ListRect strip;
  } cases[] = {
      {"plain", {{0, 20, 100, 40}, 0, false, 300, false, 13, 13, 0, 16}, {1, 20, 100, 40}, false, false, {}, 0, {}},
      {"check boxes", {{0, 20, 100, 40}, 0, false, 300, true, 13, 13, 0, 16}, {16, 20, 100, 40}, true, false,
       {1, 23, 14, 36}, 0, {}},
      {"check boxes and icons", {{0, 20, 100, 40}, 0, false, 300, true, 13, 13, 5, 16}, {35, 20, 100, 40}, true, true,
       {1, 23, 14, 36}, 17, {}},
      {"a single image draws no icon", {{0, 20, 100, 40}, 0, false, 300, false, 13, 13, 1, 32}, {1, 20, 100, 40},
       false, false, {}, 0, {}},
      {"large icons", {{0, 0, 150, 32}, 0, false, 600, false, 0, 0, 9, 32}, {36, 0, 150, 32}, false, true, {}, 2, {}},
      {"only column 0 has boxes and icons", {{100, 0, 200, 20}, 1, false, 300, true, 13, 13, 5, 16}, {101, 0, 200, 20},
       false, false, {}, 0, {}},
      {"last column short of the client", {{200, 0, 280, 20}, 2, true, 300, false, 13, 13, 0, 16}, {201, 0, 280, 20},
       false, false, {}, 0, {281, 0, 300, 20}},
      {"last column reaching the client", {{200, 0, 300, 20}, 2, true, 300, false, 13, 13, 0, 16}, {201, 0, 300, 20},
       false, false, {}, 0, {}},
  };
  for (const Case& c : cases) {
    const ListCellLayout out = LayoutListCell(c.in);
    EXPECT_EQ(out.text, c.text) << c.name;
    EXPECT_EQ(out.fill, (ListRect{c.in.cell.left + 1, c.in.cell.top, c.in.cell.right, c.in.cell.bottom})) << c.name;
    EXPECT_EQ(out.separatorX, c.in.cell.right) << c.name;
    EXPECT_EQ(out.drawCheckBox, c.checkBox) << c.name;
    if (c.checkBox) {
      EXPECT_EQ(out.checkBox, c.box) << c.name;
    }
    EXPECT_EQ(out.drawImage, c.image) << c.name;
    if (c.image) {
      EXPECT_EQ(out.imageX, c.imageX) << c.name;
      EXPECT_EQ(out.imageY, c.in.cell.top) << c.name;
    }
    EXPECT_EQ(out.strip, c.strip) << c.name;
  }
}

TEST(ListLogic, ChecksAndKeys) {
  struct Case {
    bool checkBoxes, hit;
    int x;
    bool onIcon, toggles;
  } cases[] = {{true, true, 10, false, true},  {true, true, 0, false, true},    {true, true, 15, false, true},
               {true, true, 16, false, false}, {true, true, 60, false, false},  {true, true, 60, true, true},
               {false, true, 10, false, false}, {true, false, 10, false, false}, {true, true, -3, false, false}};
  for (const Case& c : cases)
    EXPECT_EQ(PressTogglesCheck(c.checkBoxes, c.hit, c.x, 0, c.onIcon), c.toggles) << c.x << c.onIcon;
  EXPECT_TRUE(PressTogglesCheck(true, true, 110, 100, false));  // relative to the item's left edge

  EXPECT_EQ(ListActionForChar(1, false), ListCharAction::SelectAll);
  EXPECT_EQ(ListActionForChar(' ', true), ListCharAction::ToggleSelectionMark);
  EXPECT_EQ(ListActionForChar(' ', false), ListCharAction::None);
  EXPECT_EQ(ListActionForChar('a', true), ListCharAction::None);
}

TEST(ListLogic, ScrollBarPlacement) {
  const ListRect list{10, 90, 490, 410};
  struct Case {
    bool v, h;
    ListRect vertical, horizontal, region;
  } cases[] = {
      {true, false, {473, 90, 490, 410}, {10, 393, 490, 410}, {0, 0, 463, 320}},
      {false, true, {473, 90, 490, 410}, {10, 393, 490, 410}, {0, 0, 480, 303}},
      {true, true, {473, 90, 490, 393}, {10, 393, 473, 410}, {0, 0, 463, 303}},
      {false, false, {473, 90, 490, 410}, {10, 393, 490, 410}, {0, 0, 480, 320}},
  };
  for (const Case& c : cases) {
    const ListScrollBarsPlacement p = PlaceListScrollBars(list, 17, 17, c.v, c.h);
    EXPECT_EQ(p.showVertical, c.v);
    EXPECT_EQ(p.showHorizontal, c.h);
    if (c.v) {
      EXPECT_EQ(p.vertical, c.vertical) << c.v << c.h;
    }
    if (c.h) {
      EXPECT_EQ(p.horizontal, c.horizontal) << c.v << c.h;
    }
    EXPECT_EQ(p.listRegion, c.region) << c.v << c.h;
  }
  EXPECT_FALSE(ListScrollBarsNeedPlacing(true, false, true, false, false));
  EXPECT_TRUE(ListScrollBarsNeedPlacing(true, false, true, false, true));
  EXPECT_TRUE(ListScrollBarsNeedPlacing(true, false, true, true, false));
  EXPECT_TRUE(ListScrollBarsNeedPlacing(false, false, true, false, false));
}

TEST(TabLogic, RowHeightByDpi) {
  struct Case {
    int dpi, height;
  } cases[] = {{96, 20}, {120, 25}, {144, 30}, {72, 15}, {192, 40}, {110, 23}};
  for (const Case& c : cases) EXPECT_EQ(TabRowHeight(c.dpi), c.height) << c.dpi;
}

TEST(TabLogic, StripLayout) {
  TabStripInput in;
  in.clientWidth = 540;
  in.clientHeight = 280;
  in.rowHeight = 20;
  in.textWidths = {30, 25, 40};
  TabStripLayout out = LayoutTabStrip(in);
  ASSERT_EQ(out.tabs.size(), 3u);
  EXPECT_EQ(out.tabs[0], (ListRect{2, 0, 64, 20}));
  EXPECT_EQ(out.tabs[1], (ListRect{64, 0, 121, 20}));
  EXPECT_EQ(out.tabs[2], (ListRect{121, 0, 193, 20}));
  EXPECT_EQ(out.page, (ListRect{0, 19, 540, 280}));
  EXPECT_EQ(out.pageWindow, (ListRect{1, 20, 539, 279}));

  in.rowHeight = 25;
  in.leftWindowWidth = 80;
  in.rightWindowWidth = 70;
  out = LayoutTabStrip(in);
  EXPECT_EQ(out.leftWindow, (ListRect{0, 0, 80, 24}));
  EXPECT_EQ(out.rightWindow, (ListRect{470, 0, 540, 24}));
  EXPECT_EQ(out.tabs[0], (ListRect{82, 0, 144, 25}));
  EXPECT_EQ(out.pageWindow, (ListRect{1, 25, 539, 279}));

  EXPECT_EQ(TabAtPoint(out.tabs, 144, 10, 0), 1);  // tabs touch: the later one wins
  EXPECT_EQ(TabAtPoint(out.tabs, 100, 3, 2), 0);
  EXPECT_EQ(TabAtPoint(out.tabs, 400, 3, 2), 2);  // a miss keeps the active tab
  EXPECT_EQ(TabAtPoint(out.tabs, 100, 30, -1), -1);
}

TEST(TabLogic, InsertIndexAndFace) {
  EXPECT_EQ(TabInsertIndex(-1, 3), 3);
  EXPECT_EQ(TabInsertIndex(0, 3), 0);
  EXPECT_EQ(TabInsertIndex(3, 3), 3);
  EXPECT_EQ(TabInsertIndex(9, 3), 3);
  const TabFace active = TabFaceFor({82, 0, 144, 25}, true, 6, 6);
  EXPECT_EQ(active.leftCell, "TabButtonLeftActive");
  EXPECT_EQ(active.middleCell, "TabButtonMiddleActive");
  EXPECT_EQ(active.rightCell, "TabButtonRightActive");
  EXPECT_EQ(active.left, (ListRect{82, 0, 88, 25}));
  EXPECT_EQ(active.middle, (ListRect{88, 0, 138, 25}));
  EXPECT_EQ(active.right, (ListRect{138, 0, 144, 25}));
  EXPECT_EQ(active.iconX, 86);
  EXPECT_EQ(active.iconY, 2);
  EXPECT_EQ(active.text, (ListRect{100, 2, 144, 25}));
  const TabFace inactive = TabFaceFor({82, 0, 144, 25}, false, 6, 6);
  EXPECT_EQ(inactive.leftCell, "TabButtonLeftInactive");
  EXPECT_EQ(inactive.iconY, 4);
  EXPECT_EQ(inactive.text.top, 4);

  const HeaderColumnEnds ends = HeaderColumnEndsFor({100, 0, 175, 20}, 4, 4);
  EXPECT_EQ(ends.left, (ListRect{100, 0, 104, 20}));
  EXPECT_EQ(ends.right, (ListRect{171, 0, 175, 20}));
}

}  // namespace
