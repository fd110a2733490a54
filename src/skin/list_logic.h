// What the skinned lists decide without drawing: row colours, where a cell's
// check box, icon and text go, which clicks and keys toggle checks, the sort
// order a header click gives, and where the skinned scroll bars sit over a
// list. The Win32 controls read these and paint.
#pragma once
#include <cstdint>

struct ListRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  // Right and bottom edges are outside, as on the platform.
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  bool operator==(const ListRect&) const = default;
};

// 0x00BBGGRR, the skin registry's colour layout.
using ListColor = std::uint32_t;
constexpr ListColor ListRgb(int r, int g, int b) {
  return static_cast<ListColor>(r & 0xFF) | (static_cast<ListColor>(g & 0xFF) << 8) |
         (static_cast<ListColor>(b & 0xFF) << 16);
}

constexpr ListColor kListSelectedColor = ListRgb(133, 186, 220);
constexpr ListColor kListEvenRowColor = ListRgb(232, 239, 248);
constexpr ListColor kListOddRowColor = ListRgb(255, 255, 255);
constexpr int kListBoxItemHeight = 20;
constexpr int kListBoxTextIndent = 3;
constexpr int kListBoxCommandId = 1005;
constexpr int kListCheckSlotWidth = 16;

// Report-view cell background.
ListColor ListRowColor(int row, bool selected);
// Owner-drawn list box item background.
ListColor ListBoxItemColor(bool selected);

// Where a report-view cell's parts go. The cell rectangle is already
// narrowed to its header column for column 0.
struct ListCellInput {
  ListRect cell;
  int column = 0;
  bool lastColumn = false;
  int clientWidth = 0;
  bool checkBoxes = false;  // the list has the check-box extended style
  int checkBoxWidth = 0;
  int checkBoxHeight = 0;
  int imageCount = 0;  // images in the small image list
  int imageWidth = 0;
};
struct ListCellLayout {
  ListRect fill;       // background, from the cell's left edge + 1
  ListRect strip;      // the rest of the row right of the last column; empty if none
  int separatorX = 0;  // the white line along the cell's right edge
  bool drawCheckBox = false;
  ListRect checkBox;  // natural size, centred in its slot and vertically
  bool drawImage = false;
  int imageX = 0;
  int imageY = 0;
  ListRect text;  // single line, vertically centred, ellipsis
};
ListCellLayout LayoutListCell(const ListCellInput& in);

// A press with the check-box style toggles an item's check within the
// check slot at the item's left or on its icon.
bool PressTogglesCheck(bool checkBoxes, bool itemHit, int pressX, int itemLeft, bool onIcon);

enum class ListCharAction { None, SelectAll, ToggleSelectionMark };
// Ctrl+A arrives as character 1; space toggles only with check boxes.
ListCharAction ListActionForChar(unsigned code, bool checkBoxes);

// The sort a list keeps: a second click on the same column reverses it.
struct ListSortOrder {
  int column = 0;
  int direction = 1;  // 1 ascending, -1 descending

  void Click(int clicked);
  void Reset() { column = 0, direction = 1; }
};

// Where the two skinned scroll bars sit over a list, in the parent's
// coordinates, and the region that cuts the platform's own bars off.
struct ListScrollBarsPlacement {
  bool showVertical = false;
  bool showHorizontal = false;
  ListRect vertical;
  ListRect horizontal;
  ListRect listRegion;  // in the list's own window coordinates
  bool operator==(const ListScrollBarsPlacement&) const = default;
};
// `cx`, `cy`: the platform's vertical bar width and horizontal bar height.
ListScrollBarsPlacement PlaceListScrollBars(const ListRect& listInParent, int cx, int cy, bool vertical,
                                            bool horizontal);
// With unchanged style bits only the bars' contents need synchronising.
bool ListScrollBarsNeedPlacing(bool lastVertical, bool lastHorizontal, bool vertical, bool horizontal, bool force);
