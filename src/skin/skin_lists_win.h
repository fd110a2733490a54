// The skinned lists: a report-view list with its header, an owner-drawn list
// box, the scroll bars both show over the platform's own, and the tab strip.
// The arithmetic lives in list_logic, scroll_logic and tab_logic; these
// classes read the windows and paint what those decide.
#pragma once
#include "platform/win32.h"

#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "skin/list_logic.h"
#include "skin/scroll_logic.h"
#include "skin/skin_controls_win.h"

// One WM_PAINT: `paint` draws on the window's paint surface.
template <class F>
void PaintWindow(HWND window, F paint) {
  PAINTSTRUCT ps;
  HDC target = ::BeginPaint(window, &ps);
  paint(target);
  ::EndPaint(window, &ps);
}

class CSkinScrollbar : public CSkinWnd, public IScrollBarHost {
 public:
  ~CSkinScrollbar() override;
  // A sibling of `owner` in its parent, hidden and empty until placed.
  bool Create(HWND owner, bool vertical);
  void SyncScrollBar();
  const CScrollBarModel* Model() const { return model_.get(); }

  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  bool ReadScrollInfo(ScrollInfo& info) override;
  void SendScroll(int code, std::int32_t position) override;
  void ScrollListView(int dx, int dy) override;
  int FirstItemHeight() override;
  void Repaint() override;
  void SetCapture(bool captured) override;
  void ArmRepeatTimer(std::uint32_t ms) override;
  void Paint(HDC target);

  HWND owner_ = nullptr;
  bool vertical_ = true;
  std::unique_ptr<CScrollBarModel> model_;
};

// The two skinned bars of one list and where they sit.
class CListScrollBars {
 public:
  void Layout(HWND list, bool force);
  void Sync();
  CSkinScrollbar& Vertical() { return vertical_; }
  CSkinScrollbar& Horizontal() { return horizontal_; }

 private:
  CSkinScrollbar vertical_;
  CSkinScrollbar horizontal_;
  bool created_ = false;
  bool lastVertical_ = false;
  bool lastHorizontal_ = false;
  // What the last layout put in place; nullopt before the first.
  std::optional<ListScrollBarsPlacement> placed_;
};

class CSkinHeaderCtrl : public CWnd {
 public:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC target);
};

// A report-view cell as the list draws it.
struct ListCellContext {
  int item = 0;
  int column = 0;
  bool selected = false;
  RECT cell{};
  ListCellLayout layout;
};

class CSkinListCtrl : public CWnd {
 public:
  CSkinHeaderCtrl header;
  CListScrollBars scrollBars;
  ListSortOrder sort;

  // A child of `parent` in its font.
  bool Create(HWND parent, const RECT& rect, DWORD style, int id, DWORD exStyle = 0);
  int InsertColumn(int index, const std::wstring& text, int width, int format = LVCFMT_LEFT);
  int InsertItem(int index, const std::wstring& text, LPARAM data, int image = -1);
  void SetItemText(int item, int column, const std::wstring& text);
  int ItemCount() const;
  LPARAM ItemData(int item) const;
  bool IsSelected(int item) const;
  void LayoutScrollBars(bool force);

  // Called for every report-view cell; the base draws background then content.
  virtual void DrawSubItem(int item, int column, HDC surface);
  // The sort comparison over the items' stored data.
  virtual int CompareItems(LPARAM, LPARAM) { return 0; }
  virtual void SortByColumn(int column);
  virtual void AfterSort() {}
  // What an empty list paints instead of rows, when it has a notice.
  virtual bool HasEmptyNotice() const { return false; }
  virtual void DrawEmpty(HDC, const RECT&) {}
  // Sorts again by the current column and direction.
  void Resort();
  void ResetSort();

  // A notification the list sent its parent; the parent hands it back here.
  virtual bool OnNotifyReflect(const NMHDR& header, LRESULT& result);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  bool CellContext(int item, int column, HDC surface, ListCellContext& cell);
  void DrawCellBackground(HDC surface, const ListCellContext& cell);
  void DrawCellContent(HDC surface, const ListCellContext& cell);

 private:
  static int CALLBACK CompareThunk(LPARAM a, LPARAM b, LPARAM self);
  bool headerAttached_ = false;
};

// A parent's WM_NOTIFY handed to the skinned list that sent it.
bool ReflectListNotify(LPARAM lParam, LRESULT& result);

class CSkinListBox : public CSkinControl<CListBox> {
 public:
  CSkinListBox() { skinPrefix = L"ListBox"; }
  CListScrollBars scrollBars;
  // The mouse over a row (-1: below the last one) and leaving the box.
  std::function<void(int row)> onHover;
  std::function<void()> onLeave;

  bool Create(HWND parent, const RECT& rect);
  int AddString(const std::wstring& text);
  void SetCurSel(int row);
  int GetCurSel() const;
  void LayoutScrollBars(bool force);

  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  bool DrawItem(const DRAWITEMSTRUCT& item) override;
};

struct SkinTabItem {
  int insertPosition = -1;
  std::wstring text;
  std::wstring iconCell;
  RECT rect{};
  HWND page = nullptr;
};

class CSkinTabCtrl : public CSkinWnd {
 public:
  CSkinTabCtrl() { skinPrefix = L"TabCtrl"; }
  bool Create(HWND parent, const RECT& rect, int id);
  void InsertTab(const SkinTabItem& item);
  void DeleteAllTabs();
  // Windows at the two ends of the tab row (either may be null).
  void SetRowWindows(HWND left, HWND right);
  SkinTabItem GetActiveTab() const;
  int ActiveIndex() const { return active_; }
  int TabCount() const { return static_cast<int>(tabs_.size()); }
  void SetActiveTab(int index);
  int RowHeight() const { return rowHeight_; }
  RECT PageRect() const { return page_; }
  void Layout();

  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Paint(HDC target);
  void ShowPages();

  std::vector<SkinTabItem> tabs_;
  HWND left_ = nullptr;
  HWND right_ = nullptr;
  int active_ = -1;
  int rowHeight_ = 20;
  RECT page_{};
};
