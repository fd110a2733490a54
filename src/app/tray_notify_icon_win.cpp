#include "app/tray_notify_icon_win.h"

#include <shlwapi.h>

#include "resource.h"

namespace {

#ifdef _WIN64
constexpr bool kSixtyFourBit = true;
#else
constexpr bool kSixtyFourBit = false;
#endif
// The record forms the shell tells apart by their size: up to the tip of
// version 4, up to the balloon of version 5, up to the item's GUID of 6.
static_assert(NotifyIconDataSize(4, kSixtyFourBit) == NOTIFYICONDATAW_V1_SIZE);
static_assert(NotifyIconDataSize(5, kSixtyFourBit) == NOTIFYICONDATAW_V2_SIZE);
static_assert(NotifyIconDataSize(6, kSixtyFourBit) == NOTIFYICONDATAW_V3_SIZE);
static_assert(NotifyIconDataSize(6, kSixtyFourBit) <= sizeof(NOTIFYICONDATAW));

void CopyText(wchar_t* to, std::size_t capacity, const std::wstring& text) {
  const std::size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  text.copy(to, n);
  to[n] = L'\0';
}

}  // namespace

int ShellMajorVersion() {
  HMODULE shell = ::GetModuleHandleW(L"shell32.dll");
  if (!shell) shell = ::LoadLibraryW(L"shell32.dll");
  if (!shell) return 0;
  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(::GetProcAddress(shell, "DllGetVersion")));
  if (!getVersion) return 0;
  DLLVERSIONINFO info{};
  info.cbSize = sizeof info;
  if (FAILED(getVersion(&info))) return 0;
  return static_cast<int>(info.dwMajorVersion);
}

CTrayNotifyIcon::CTrayNotifyIcon() { taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated"); }

CTrayNotifyIcon::~CTrayNotifyIcon() {
  RemoveTrayIcon();
  if (menu_) ::DestroyMenu(menu_);
  if (icon_) ::DestroyIcon(icon_);
}

void CTrayNotifyIcon::SetIconHandle(HICON icon) {
  if (icon_) ::DestroyIcon(icon_);
  icon_ = icon;
  data_.hIcon = icon;
}

bool CTrayNotifyIcon::AddTrayIcon(HWND owner, int iconResource) {
  owner_ = owner;
  shellMajor_ = ShellMajorVersion();
  data_ = NOTIFYICONDATAW{};
  data_.cbSize = NotifyIconDataSize(shellMajor_, sizeof(void*) == 8);
  data_.hWnd = owner;
  data_.uID = kTrayIconId;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = kTrayCallbackMessage;
  CopyText(data_.szTip, sizeof data_.szTip / sizeof data_.szTip[0], L"Quillnet");
  SetIconHandle(static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconResource),
                                                IMAGE_ICON, 16, 16, 0)));
  iconResource_ = iconResource;
  if (!menu_) menu_ = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_TRAY_MENU));
  if (menu_) {
    defaultItem_ = 0;
    defaultByPosition_ = true;
    ::SetMenuDefaultItem(::GetSubMenu(menu_, 0), static_cast<UINT>(defaultItem_), defaultByPosition_);
  }
  return AddRecord();
}

bool CTrayNotifyIcon::AddRecord() {
  added_ = ::Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
  if (added_ && shellMajor_ >= 5) {
    NOTIFYICONDATAW version = data_;
    version.uVersion = NOTIFYICON_VERSION;
    ::Shell_NotifyIconW(NIM_SETVERSION, &version);
  }
  return added_;
}

void CTrayNotifyIcon::SetTrayIcon(int iconResource) {
  if (!added_) return;
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  HICON icon = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(iconResource), IMAGE_ICON, 16, 16, 0));
  if (!icon) icon = static_cast<HICON>(::LoadImageW(module, MAKEINTRESOURCEW(iconResource), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  if (!icon) return;
  SetIconHandle(icon);
  iconResource_ = iconResource;
  data_.uFlags = NIF_ICON;
  ::Shell_NotifyIconW(NIM_MODIFY, &data_);
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
}

void CTrayNotifyIcon::ShowBalloon(const std::wstring& text) {
  if (!added_) return;
  NOTIFYICONDATAW balloon = data_;
  balloon.uFlags = NIF_INFO;
  CopyText(balloon.szInfo, sizeof balloon.szInfo / sizeof balloon.szInfo[0], text);
  CopyText(balloon.szInfoTitle, sizeof balloon.szInfoTitle / sizeof balloon.szInfoTitle[0], L"Quillnet");
  balloon.uTimeout = 5000;
  balloon.dwInfoFlags = NIIF_INFO;
  ::Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

void CTrayNotifyIcon::RemoveTrayIcon() {
  if (!added_) return;
  ::Shell_NotifyIconW(NIM_DELETE, &data_);
  added_ = false;
}

void CTrayNotifyIcon::ReAdd() {
  if (!owner_) return;
  RemoveTrayIcon();
  AddRecord();
}

bool CTrayNotifyIcon::OnTrayNotify(UINT mouseMessage) {
  const TrayDecision decision = TrayFilter(kTrayCallbackMessage, kTrayIconId, static_cast<LPARAM>(mouseMessage), 0);
  HMENU popup = menu_ ? ::GetSubMenu(menu_, 0) : nullptr;
  switch (decision.action) {
    case TrayAction::ShowMenu: {
      if (!popup) return true;
      POINT at{};
      ::GetCursorPos(&at);
      ::SetForegroundWindow(owner_);
      ::TrackPopupMenu(popup, TPM_LEFTBUTTON, at.x, at.y, 0, owner_, nullptr);
      // Without it the menu does not close when the user clicks elsewhere.
      ::PostMessageW(owner_, WM_NULL, 0, 0);
      return true;
    }
    case TrayAction::RunDefaultCommand: {
      ::SetForegroundWindow(owner_);
      const UINT command = popup ? ::GetMenuItemID(popup, defaultItem_) : ID_TRAY_SHOW;
      ::SendMessageW(owner_, WM_COMMAND, command, 0);
      return true;
    }
    default:
      return decision.handled;
  }
}

bool CTrayNotifyIcon::Filter(UINT message, WPARAM wParam, LPARAM lParam, bool& showMainWindow) {
  showMainWindow = false;
  const TrayDecision decision = TrayFilter(message, wParam, lParam, taskbarCreated_);
  switch (decision.action) {
    case TrayAction::ReAddIcon:
      ReAdd();
      return true;
    case TrayAction::ShowMenu:
    case TrayAction::RunDefaultCommand:
      return OnTrayNotify(static_cast<UINT>(lParam));
    case TrayAction::RemoveIcon:
      RemoveTrayIcon();
      return false;
    case TrayAction::ShowMainWindow:
      showMainWindow = true;
      return false;
    default:
      return decision.handled;
  }
}
