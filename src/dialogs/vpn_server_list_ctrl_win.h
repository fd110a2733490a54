// The chooser's server list: rows handed over whole by the chooser and shown
// from here (owner data), the speed column drawn with its icon, and the
// maintenance notice when empty.
// Sorting is the chooser's: a header click is handed to the dialog.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "servers/policy_chooser.h"
#include "skin/skin_lists_win.h"

class CVpnServerListCtrl : public CSkinListCtrl {
 public:
  std::function<void(int column)> onColumnClick;
  std::function<void(int row)> onSelected;

  bool Create(HWND parent, const RECT& rect, int id);
  void SetRows(const std::vector<ServerRow>& rows, int selected, const std::wstring& notice);
  void SetSpeedCell(int row, const std::wstring& text);
  // The server id a row shows, -1 for none.
  std::int32_t RowId(int row) const;

  void SortByColumn(int column) override;
  void DrawSubItem(int item, int column, HDC surface) override;
  bool HasEmptyNotice() const override { return !notice_.empty(); }
  void DrawEmpty(HDC surface, const RECT& client) override;
  bool OnNotifyReflect(const NMHDR& header, LRESULT& result) override;

 private:
  std::vector<ServerRow> rows_;
  std::wstring notice_;
  bool filling_ = false;
  HIMAGELIST images_ = nullptr;
};
