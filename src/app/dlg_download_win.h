// The two transfer dialogs: CDlgDownload, the modal progress of every
// account-service command, and CDlgOnlineUpdate, the update download with
// its progress, speed text and busy bar. Both are thin: the runs behind them
// (download_run.h, online_update.h) decide.
#pragma once
#include "platform/win32.h"

#include <memory>
#include <string>

#include "app/download_run.h"
#include "app/online_update.h"
#include "platform/window_message_target_win.h"
#include "skin/skin_window_win.h"
#include "ui/dialog_win.h"

// The busy bar's window class; registered once at start-up.
inline constexpr wchar_t kBusyBarClass[] = L"gs_nonprogressbar";
bool RegisterBusyBarClass();
// The busy bar's leading block's left edge and whether the animation starts
// over, for an area of `width` pixels from `left` and blocks `block` wide.
struct BusyBarFrame {
  int leadingLeft = 0;
  bool restart = false;
};
BusyBarFrame BusyBarGeometry(int left, int right, int block, int position, int blocks);

class CDlgDownload : public CDialog {
 public:
  explicit CDlgDownload(CDownloadRun& run) : run_(run) {}
  // A transfer event of the run, handed on by the window that receives them.
  void OnTransferEvent(WPARAM wParam, LPARAM lParam);

 protected:
  bool OnInitDialog() override;
  void OnOK() override { Cancel(); }
  void OnCancel() override { Cancel(); }
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void Cancel();
  void EndWhenDone();

  CDownloadRun& run_;
  CSkinWindow skinWindow_;
  CSkinButton cancel_;
  CSkinStatic text_;
  HWND animation_ = nullptr;
};

class CDlgOnlineUpdate : public CDialog, public IUpdateDownloadView {
 public:
  CDlgOnlineUpdate(std::wstring url, std::wstring localPath) : url_(std::move(url)), path_(std::move(localPath)) {}
  bool CancelledByUser() const { return run_ && run_->CancelledByUser(); }
  TransferFailure Failure() const { return run_ ? run_->Failure() : TransferFailure::None; }

  // IUpdateDownloadView
  void ShowProgressBar(bool known) override;
  void SetProgress(int percent) override;
  void SetStatusText(const std::wstring& text) override;
  void ShowMessage(const std::wstring& text, BoxIcon icon) override;

 protected:
  bool OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnDestroy() override;
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  std::wstring url_;
  std::wstring path_;
  std::unique_ptr<CWindowMessageTarget> target_;
  std::unique_ptr<CUpdateDownloadRun> run_;
  CSkinWindow skinWindow_;
  CSkinButton cancel_;
  CSkinStatic status_;
  HWND progress_ = nullptr;
  HWND busyBar_ = nullptr;
};
