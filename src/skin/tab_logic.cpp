#include "skin/tab_logic.h"

namespace {

constexpr int kTabPadding = 32;
constexpr int kTabFirstX = 2;

}  // namespace

int TabRowHeight(int dpi) { return (dpi * 20 + 48) / 96; }

int TabInsertIndex(int insertPosition, int count) {
  if (insertPosition < 0 || insertPosition > count) return count;
  return insertPosition;
}

TabStripLayout LayoutTabStrip(const TabStripInput& in) {
  TabStripLayout out;
  const int row = in.rowHeight;
  out.page = {0, row - 1, in.clientWidth, in.clientHeight};
  out.pageWindow = {out.page.left + 1, out.page.top + 1, out.page.right - 1, out.page.bottom - 1};
  int x = kTabFirstX;
  if (in.leftWindowWidth) {
    out.leftWindow = {0, 0, *in.leftWindowWidth, row - 1};
    x = *in.leftWindowWidth + 2;
  }
  if (in.rightWindowWidth) out.rightWindow = {in.clientWidth - *in.rightWindowWidth, 0, in.clientWidth, row - 1};
  for (int textWidth : in.textWidths) {
    const ListRect tab{x, 0, x + textWidth + kTabPadding, row};
    out.tabs.push_back(tab);
    x = tab.right;
  }
  return out;
}

int TabAtPoint(const std::vector<ListRect>& tabs, int x, int y, int active) {
  int hit = active;
  for (std::size_t i = 0; i < tabs.size(); ++i)
    if (tabs[i].Contains(x, y)) hit = static_cast<int>(i);
  return hit;
}

TabFace TabFaceFor(const ListRect& tab, bool active, int leftEndWidth, int rightEndWidth) {
  const std::string state = active ? "Active" : "Inactive";
  TabFace face;
  face.leftCell = "TabButtonLeft" + state;
  face.middleCell = "TabButtonMiddle" + state;
  face.rightCell = "TabButtonRight" + state;
  face.left = {tab.left, tab.top, tab.left + leftEndWidth, tab.bottom};
  face.right = {tab.right - rightEndWidth, tab.top, tab.right, tab.bottom};
  face.middle = {face.left.right, tab.top, face.right.left, tab.bottom};
  const int drop = active ? 2 : 4;
  face.iconX = tab.left + 4;
  face.iconY = tab.top + drop;
  face.text = {tab.left + 18, tab.top + drop, tab.right, tab.bottom};
  return face;
}

HeaderColumnEnds HeaderColumnEndsFor(const ListRect& column, int leftWidth, int rightWidth) {
  return {{column.left, column.top, column.left + leftWidth, column.bottom},
          {column.right - rightWidth, column.top, column.right, column.bottom}};
}
