// The accelerated application list: each row owns its entry, shows the
// system's large icon, a status column with its icon and colours, and the
// two drag lines while empty. Dropped files arrive as one batch.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "accel/app_list.h"
#include "skin/skin_lists_win.h"

class CVpnAppListCtrl : public CSkinListCtrl, public IAppRows {
 public:
  std::function<void(const std::vector<std::wstring>& paths)> onFilesDropped;

  ~CVpnAppListCtrl() override;
  bool Create(HWND parent, const RECT& rect, int id);
  // The rows' entries go with the window.
  void DeleteAllRows();

  // IAppRows
  int RowCount() const override { return ItemCount(); }
  int AppendRow(std::unique_ptr<VpnAppItem> item, int image) override;
  void SetCellText(int row, int column, const std::wstring& text) override { SetItemText(row, column, text); }
  VpnAppItem* Item(int row) override { return reinterpret_cast<VpnAppItem*>(ItemData(row)); }
  bool IsSelected(int row) const override { return CSkinListCtrl::IsSelected(row); }
  void DeleteRow(int row) override;
  void RedrawRow(int row) override;
  void Repaint() override { Invalidate(true); }

  void DrawSubItem(int item, int column, HDC surface) override;
  int CompareItems(LPARAM a, LPARAM b) override;
  bool HasEmptyNotice() const override { return true; }
  void DrawEmpty(HDC surface, const RECT& client) override;
  // The application list's own: a batch of files dropped on it.
  virtual void FilesDropped(const std::vector<std::wstring>& paths);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  int FirstSelected() const;
};
