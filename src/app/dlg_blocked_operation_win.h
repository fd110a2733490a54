// A small modal dialog that says the client is busy while an operation runs
// on a worker thread; the user cannot close it, it closes itself when done.
#pragma once
#include "platform/win32.h"

#include <cstdint>

#include "app/blocked_operation.h"
#include "skin/skin_window_win.h"
#include "ui/dialog_win.h"

// The worker posts this when Run has returned.
constexpr UINT WM_BLOCKED_OPERATION_DONE = WM_USER + 1;

class CDlgBlockedOperation : public CDialog, public IBlockedOperationHost {
 public:
  IOperation* operation = nullptr;  // not owned
  HANDLE workerThread = nullptr;
  CSkinWindow skinWindow;
  std::uint32_t timerPeriodMs = 1000;
  CSkinStatic statusText;

  // From the worker thread: the platform forwards it to the window's thread.
  void SetStatusText(const std::wstring& text) override;

 protected:
  bool OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override {}
  void OnTimer(UINT_PTR id) override;
  void OnDestroy() override;
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  static DWORD WINAPI Worker(void* dialog);
  void JoinWorker();
};

// Installs the TAP driver behind the dialog (its timer raises the installer's
// window every 5 s). The caller checks the adapter afterwards.
void RunTapDriverInstallation(HWND owner);
