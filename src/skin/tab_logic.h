// The tab strip's arithmetic: the row height by screen resolution, where the
// tabs and the two windows in the row go, the page rectangle, which tab a
// press picks and where a tab's icon and text are painted.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "skin/list_logic.h"

// (dpi x 20 + 48) / 96: 20 pixels at 96 dpi.
int TabRowHeight(int dpi);

// Where an item inserted at `insertPosition` lands among `count` tabs
// (-1 or past the end: appended).
int TabInsertIndex(int insertPosition, int count);

struct TabStripInput {
  int clientWidth = 0;
  int clientHeight = 0;
  int rowHeight = 20;
  std::optional<int> leftWindowWidth;   // absent: no window at the left end
  std::optional<int> rightWindowWidth;  // absent: no window at the right end
  std::vector<int> textWidths;          // each tab's single-line text width
};
struct TabStripLayout {
  ListRect leftWindow;
  ListRect rightWindow;
  std::vector<ListRect> tabs;
  ListRect page;        // framed in grey
  ListRect pageWindow;  // where the active tab's page window goes
};
TabStripLayout LayoutTabStrip(const TabStripInput& in);

// The last tab containing the point, or `active` when the press missed them
// all.
int TabAtPoint(const std::vector<ListRect>& tabs, int x, int y, int active);

struct TabFace {
  // The button behind: the two ends at the widths of the active tab's end
  // cells, the middle stretched between, all at the tab's full height.
  std::string leftCell, middleCell, rightCell;
  ListRect left, middle, right;
  int iconX = 0;
  int iconY = 0;
  ListRect text;  // centred horizontally, no prefix processing
};
// The active tab draws its icon and text two pixels higher.
TabFace TabFaceFor(const ListRect& tab, bool active, int leftEndWidth, int rightEndWidth);

// A header column's two end cells at natural width inside the column; the
// middle cell is stretched over the whole header beforehand.
struct HeaderColumnEnds {
  ListRect left;
  ListRect right;
};
HeaderColumnEnds HeaderColumnEndsFor(const ListRect& column, int leftWidth, int rightWidth);
