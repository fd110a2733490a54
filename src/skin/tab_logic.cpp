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

TabFace TabFaceFor(const ListRect& tab, bool active) {
  const int drop = active ? 2 : 4;
  return {tab.left + 4, tab.top + drop, {tab.left + 18, tab.top + drop, tab.right, tab.bottom}};
}
