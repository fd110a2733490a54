#include "skin/list_logic.h"

ListColor ListRowColor(int row, bool selected) {
  if (selected) return kListSelectedColor;
  return row % 2 == 0 ? kListEvenRowColor : kListOddRowColor;
}

ListColor ListBoxItemColor(bool selected) { return selected ? kListSelectedColor : ListRgb(255, 255, 255); }

ListCellLayout LayoutListCell(const ListCellInput& in) {
  const ListRect& cell = in.cell;
  ListCellLayout out;
  out.fill = {cell.left + 1, cell.top, cell.right, cell.bottom};
  if (in.lastColumn && cell.right < in.clientWidth) out.strip = {cell.right + 1, cell.top, in.clientWidth, cell.bottom};
  out.separatorX = cell.right;
  int textLeft = cell.left + 1;
  if (in.column == 0) {
    if (in.checkBoxes) {
      out.drawCheckBox = true;
      const int x = cell.left + (kListCheckSlotWidth - in.checkBoxWidth) / 2;
      const int y = cell.top + (cell.Height() - in.checkBoxHeight) / 2;
      out.checkBox = {x, y, x + in.checkBoxWidth, y + in.checkBoxHeight};
      textLeft += in.checkBoxWidth + 2;
    }
    // A single image is the list's placeholder, not an icon per row.
    if (in.imageCount > 1) {
      out.drawImage = true;
      out.imageX = textLeft + 1;
      out.imageY = cell.top;
      textLeft += in.imageWidth + 3;
    }
  }
  out.text = {textLeft, cell.top, cell.right, cell.bottom};
  return out;
}

bool PressTogglesCheck(bool checkBoxes, bool itemHit, int pressX, int itemLeft, bool onIcon) {
  if (!checkBoxes || !itemHit) return false;
  const int offset = pressX - itemLeft;
  return (offset >= 0 && offset < kListCheckSlotWidth) || onIcon;
}

ListCharAction ListActionForChar(unsigned code, bool checkBoxes) {
  if (code == 1) return ListCharAction::SelectAll;
  if (code == L' ' && checkBoxes) return ListCharAction::ToggleSelectionMark;
  return ListCharAction::None;
}

void ListSortOrder::Click(int clicked) {
  if (clicked == column) {
    direction = -direction;
  } else {
    column = clicked;
    direction = 1;
  }
}

ListScrollBarsPlacement PlaceListScrollBars(const ListRect& list, int cx, int cy, bool vertical, bool horizontal) {
  ListScrollBarsPlacement out;
  out.showVertical = vertical;
  out.showHorizontal = horizontal;
  const bool both = vertical && horizontal;
  out.vertical = {list.right - cx, list.top, list.right, list.bottom - (both ? cy : 0)};
  out.horizontal = {list.left, list.bottom - cy, list.right - (both ? cx : 0), list.bottom};
  out.listRegion = {0, 0, list.Width() - (vertical ? cx : 0), list.Height() - (horizontal ? cy : 0)};
  return out;
}

bool ListScrollBarsNeedPlacing(bool lastVertical, bool lastHorizontal, bool vertical, bool horizontal, bool force) {
  return force || lastVertical != vertical || lastHorizontal != horizontal;
}
