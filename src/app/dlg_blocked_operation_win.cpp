#include "app/dlg_blocked_operation_win.h"

#include "text/text_table.h"
#include "vpn/tap_driver.h"

namespace {
constexpr UINT_PTR kTimerId = 1;
}

bool CDlgBlockedOperation::OnInitDialog() {
  SetSize(425, 90);
  SetText(L"Quillnet");
  CSkinAttributes::IntRef(skinWindow.attributes, L"MaximizeBox") = 0;
  CSkinAttributes::IntRef(skinWindow.attributes, L"CloseBox") = 0;
  CSkinAttributes::IntRef(skinWindow.attributes, L"MinimizeBox") = 0;
  skinWindow.Attach(Handle());
  CreateSkinStatic(statusText, GetText("BlockedOperationIsRunning"), MakeRect(20, 50, 410, 70), Handle(), 0xFFFF);

  workerThread = ::CreateThread(nullptr, 0, &CDlgBlockedOperation::Worker, this, CREATE_SUSPENDED, nullptr);
  if (workerThread) {
    ::SetThreadPriority(workerThread, THREAD_PRIORITY_NORMAL);
    ::ResumeThread(workerThread);
  } else {
    // Without a worker nothing would ever end the dialog.
    ::PostMessageW(Handle(), WM_BLOCKED_OPERATION_DONE, 0, 0);
  }
  SetTimer(kTimerId, timerPeriodMs);
  return true;
}

DWORD WINAPI CDlgBlockedOperation::Worker(void* parameter) {
  auto* dialog = static_cast<CDlgBlockedOperation*>(parameter);
  const HWND window = dialog->Handle();
  if (dialog->operation) dialog->operation->Run(*dialog);
  ::PostMessageW(window, WM_BLOCKED_OPERATION_DONE, 0, 0);
  return 0;
}

void CDlgBlockedOperation::SetStatusText(const std::wstring& text) {
  ::SetWindowTextW(statusText.Handle(), text.c_str());
}

void CDlgBlockedOperation::OnTimer(UINT_PTR id) {
  if (id == kTimerId && operation) operation->OnTimer();
}

bool CDlgBlockedOperation::HandleMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != WM_BLOCKED_OPERATION_DONE) return false;
  JoinWorker();
  EndDialog(IDOK);
  result = 0;
  return true;
}

void CDlgBlockedOperation::JoinWorker() {
  KillTimer(kTimerId);
  if (workerThread) {
    ::WaitForSingleObject(workerThread, INFINITE);
    ::CloseHandle(workerThread);
    workerThread = nullptr;
  }
}

// A quit request ends the modal loop early; the dialog still may not go
// before Run has returned, since Run works with it.
void CDlgBlockedOperation::OnDestroy() { JoinWorker(); }

void RunTapDriverInstallation(HWND owner) {
  CBlockedOperation_InstallOpenVpnDriver operation;
  CDlgBlockedOperation dialog;
  dialog.operation = &operation;
  dialog.timerPeriodMs = 5000;
  dialog.DoModal(owner);
}
