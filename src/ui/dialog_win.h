// Every dialog comes from the one empty template and creates its controls in
// code. Modal dialogs run their own loop; modeless ones join the message
// loop's dialog navigation.
#pragma once
#include "ui/wnd_win.h"

// The empty dialog template every dialog is made from.
constexpr int kEmptyDialogTemplate = 201;

class CDialog : public CWnd {
 public:
  ~CDialog() override;

  INT_PTR DoModal(HWND parent = nullptr);
  bool Create(HWND parent = nullptr);  // modeless, hidden until shown
  void EndDialog(INT_PTR result);
  void Destroy();

  // Sizes the dialog's window (the skin draws the whole window, so this is
  // also the client size) and centres it on its owner or the screen.
  void SetSize(int width, int height, bool centre = true);

 protected:
  virtual bool OnInitDialog() { return true; }
  virtual void OnCommand(int id, int code, HWND control);
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  virtual void OnTimer(UINT_PTR) {}
  virtual void OnDestroy() {}
  // Any other message; true when handled, with its result.
  virtual bool HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  bool modeless_ = false;
};
