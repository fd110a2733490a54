// The blocked operation dialog on the test display, with real threads and
// timers.
#include <gtest/gtest.h>

#include <atomic>

#include "app/dlg_blocked_operation_win.h"
#include "skin_gui/skin_test_support.h"

namespace {

class CTimedOperation : public IOperation {
 public:
  explicit CTimedOperation(DWORD runMs) : runMs_(runMs) {}
  void Run(IBlockedOperationHost& host) override {
    ranOnWorker = ::GetCurrentThreadId() != uiThread;
    host.SetStatusText(L"Working on it");
    dialog = static_cast<CDlgBlockedOperation&>(host).Handle();
    if (runMs_ >= 2000) {
      ::Sleep(1000);
      // Everything a user could do to close it.
      ::PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 0);
      ::PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
      ::PostMessageW(dialog, WM_COMMAND, IDOK, 0);
      ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      ::PostMessageW(dialog, WM_CLOSE, 0, 0);
      ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      ::Sleep(runMs_ - 1000);
      stillOpenAtEnd = ::IsWindow(dialog) && ::IsWindowVisible(dialog);
    } else {
      ::Sleep(runMs_);
    }
  }
  void OnTimer() override {
    ++timers;
    if (::GetCurrentThreadId() != uiThread) timerOffUiThread = true;
    wchar_t text[64] = {};
    ::GetDlgItemTextW(dialog, 0xFFFF, text, 64);
    statusSeen = text;
  }

  const DWORD uiThread = ::GetCurrentThreadId();
  std::atomic<int> timers{0};
  bool ranOnWorker = false, timerOffUiThread = false, stillOpenAtEnd = false;
  HWND dialog = nullptr;
  std::wstring statusSeen;

 private:
  DWORD runMs_;
};

TEST(BlockedOperationDialog, TwelveSecondRunTicksTwiceAndCannotBeClosed) {
  EnsureSkin();
  CTimedOperation operation(12000);
  CDlgBlockedOperation dialog;
  dialog.operation = &operation;
  dialog.timerPeriodMs = 5000;
  const DWORD started = ::GetTickCount();
  EXPECT_EQ(dialog.DoModal(), IDOK);
  const DWORD took = ::GetTickCount() - started;
  EXPECT_GE(took, 12000u);
  EXPECT_TRUE(operation.ranOnWorker);
  EXPECT_FALSE(operation.timerOffUiThread);
  EXPECT_EQ(operation.timers.load(), 2);  // at 5 and 10 seconds
  EXPECT_TRUE(operation.stillOpenAtEnd) << "Enter, Escape or closing ended the dialog";
  EXPECT_EQ(operation.statusSeen, L"Working on it");
  EXPECT_FALSE(::IsWindow(operation.dialog));
  EXPECT_EQ(dialog.workerThread, nullptr);
}

TEST(BlockedOperationDialog, QuickRunStillOpensAndCloses) {
  EnsureSkin();
  CTimedOperation operation(0);
  CDlgBlockedOperation dialog;
  dialog.operation = &operation;
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_TRUE(operation.ranOnWorker);
  EXPECT_LE(operation.timers.load(), 1);
}

TEST(BlockedOperationDialog, QuitRequestStillWaitsForRun) {
  EnsureSkin();
  CTimedOperation operation(1500);
  CDlgBlockedOperation dialog;
  dialog.operation = &operation;
  ::PostQuitMessage(3);
  const DWORD started = ::GetTickCount();
  dialog.DoModal();
  EXPECT_GE(::GetTickCount() - started, 1500u) << "the dialog went before Run returned";
  EXPECT_EQ(dialog.workerThread, nullptr);
  MSG msg;
  EXPECT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit request is kept for the caller";
}

TEST(BlockedOperationDialog, WithoutAnOperationItEndsByItself) {
  EnsureSkin();
  CDlgBlockedOperation dialog;
  EXPECT_EQ(dialog.DoModal(), IDOK);
}

TEST(BlockedOperationDialog, LooksAndSizesAsSpecified) {
  EnsureSkin();
  struct CLooking : IOperation {
    RECT window{}, status{};
    wchar_t title[32] = {};
    bool captionButtons = true;
    void Run(IBlockedOperationHost& host) override {
      HWND dialog = static_cast<CDlgBlockedOperation&>(host).Handle();
      ::GetWindowRect(dialog, &window);
      HWND text = ::GetDlgItem(dialog, 0xFFFF);
      ::GetWindowRect(text, &status);
      ::MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&status), 2);
      ::GetWindowTextW(dialog, title, 32);
      auto& skin = static_cast<CDlgBlockedOperation&>(host).skinWindow;
      captionButtons = skin.CloseButton() || skin.MinimizeButton() || skin.MaximizeButton();
    }
    void OnTimer() override {}
  } operation;
  CDlgBlockedOperation dialog;
  dialog.operation = &operation;
  dialog.DoModal();
  EXPECT_EQ(operation.window.right - operation.window.left, 425);
  EXPECT_EQ(operation.window.bottom - operation.window.top, 90);
  EXPECT_EQ(operation.status.left, 20);
  EXPECT_EQ(operation.status.top, 50);
  EXPECT_EQ(operation.status.right, 410);
  EXPECT_EQ(operation.status.bottom, 70);
  EXPECT_STREQ(operation.title, L"Quillnet");
  EXPECT_FALSE(operation.captionButtons);
}

}  // namespace
