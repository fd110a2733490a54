// The notification-area icon of the main window: its record, the menu it
// opens and the balloon it shows. The decisions (which message does what)
// are TrayFilter's; this class only talks to the shell.
#pragma once
#include "platform/win32.h"

#include <shellapi.h>

#include <string>

#include "app/chrome.h"

// The record as the shell of the running system expects it; our headers'
// structure is the newest, so its size field tells the shell which one we mean.
int ShellMajorVersion();

class CTrayNotifyIcon {
 public:
  CTrayNotifyIcon();
  virtual ~CTrayNotifyIcon();
  CTrayNotifyIcon(const CTrayNotifyIcon&) = delete;
  CTrayNotifyIcon& operator=(const CTrayNotifyIcon&) = delete;

  // Mouse messages of the icon; true when handled.
  virtual bool OnTrayNotify(UINT mouseMessage);

  bool AddTrayIcon(HWND owner, int iconResource);
  void SetTrayIcon(int iconResource);
  void ShowBalloon(const std::wstring& text);
  void RemoveTrayIcon();
  // The shell restarted: the icon is gone from it, our record is not.
  void ReAdd();
  // TrayFilter's verdict carried out; true when the message is handled.
  // `showMainWindow` asks the window to show itself (a left click).
  bool Filter(UINT message, WPARAM wParam, LPARAM lParam, bool& showMainWindow);

  bool Added() const { return added_; }
  // The resource of the icon last shown; 0 before the icon was ever added.
  int IconResource() const { return iconResource_; }
  const NOTIFYICONDATAW& Data() const { return data_; }
  UINT TaskbarCreatedMessage() const { return taskbarCreated_; }

 private:
  bool AddRecord();
  void SetIconHandle(HICON icon);

  NOTIFYICONDATAW data_{};
  bool added_ = false;
  HWND owner_ = nullptr;
  HMENU menu_ = nullptr;
  int defaultItem_ = 0;
  bool defaultByPosition_ = true;
  HICON icon_ = nullptr;
  int iconResource_ = 0;
  UINT taskbarCreated_ = 0;
  int shellMajor_ = 0;
};
