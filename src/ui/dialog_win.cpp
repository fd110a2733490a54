#include "ui/dialog_win.h"

#include "ui/message_loop_win.h"

CDialog::~CDialog() {
  if (window_ && ::IsWindow(window_)) {
    if (modeless_) ::DestroyWindow(window_);
  }
  Unbind();
}

INT_PTR CDialog::DoModal(HWND parent) {
  modeless_ = false;
  return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kEmptyDialogTemplate), parent,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

bool CDialog::Create(HWND parent) {
  modeless_ = true;
  HWND w = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kEmptyDialogTemplate), parent,
                                &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
  if (!w) return false;
  AddModelessDialog(w);
  return true;
}

void CDialog::EndDialog(INT_PTR result) {
  if (modeless_)
    Destroy();
  else
    ::EndDialog(window_, result);
}

void CDialog::Destroy() {
  if (window_) ::DestroyWindow(window_);
}

void CDialog::SetSize(int width, int height, bool centre) {
  int x = 0, y = 0;
  if (centre) {
    RECT area{};
    HWND owner = ::GetWindow(window_, GW_OWNER);
    if (owner && ::IsWindowVisible(owner))
      ::GetWindowRect(owner, &area);
    else
      ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    x = area.left + (area.right - area.left - width) / 2;
    y = area.top + (area.bottom - area.top - height) / 2;
  }
  ::SetWindowPos(window_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE | (centre ? 0 : SWP_NOMOVE));
}

void CDialog::OnCommand(int id, int, HWND) {
  if (id == IDOK) OnOK();
  if (id == IDCANCEL) OnCancel();
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lParam);
    self->Bind(window);
    return self->OnInitDialog();
  }
  auto* self = static_cast<CDialog*>(FromHandle(window));
  if (!self || self->window_ != window) return FALSE;
  return self->Dispatch(message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (HandleMessage(message, wParam, lParam, result)) {
    ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, result);
    return TRUE;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_CLOSE:
      // Closing the window is a cancel request, as the Escape key is.
      OnCancel();
      return TRUE;
    case WM_TIMER:
      OnTimer(wParam);
      return TRUE;
    case WM_DRAWITEM:
      return ReflectDrawItem(lParam);
    case WM_NCDESTROY: {
      OnDestroy();
      if (modeless_) RemoveModelessDialog(window_);
      Unbind();
      return FALSE;
    }
  }
  return FALSE;
}
