#include "app/chrome.h"

#include <ctime>

#include "account/account_service.h"
#include "account/reply_document.h"
#include "app/online_update.h"
#include "platform/strings.h"
#include "text/text_table.h"

namespace {
constexpr std::uint32_t kWmDestroy = 0x0002;
constexpr std::uint32_t kWmLButtonUp = 0x0202;
constexpr std::uint32_t kWmLButtonDblClk = 0x0203;
constexpr std::uint32_t kWmRButtonUp = 0x0205;
}  // namespace

std::wstring FormatLocalDate(std::int64_t secondsSince1970) {
  const std::time_t t = static_cast<std::time_t>(secondsSince1970);
  if (static_cast<std::int64_t>(t) != secondsSince1970) return {};
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) return {};
#else
  if (!localtime_r(&t, &local)) return {};
#endif
  char buffer[32];
  if (std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local) == 0) return {};
  return NarrowToWide(buffer);
}

TrayDecision TrayFilter(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                        std::uint32_t taskbarCreated) {
  if (taskbarCreated != 0 && message == taskbarCreated) return {true, TrayAction::ReAddIcon};
  if (message == kTrayCallbackMessage && wParam == kTrayIconId) {
    switch (static_cast<std::uint32_t>(lParam)) {
      case kWmRButtonUp:
        return {true, TrayAction::ShowMenu};
      case kWmLButtonDblClk:
        return {true, TrayAction::RunDefaultCommand};
      case kWmLButtonUp:
        return {false, TrayAction::ShowMainWindow};
      default:
        return {};
    }
  }
  if (message == kWmDestroy) return {false, TrayAction::RemoveIcon};
  return {};
}

int TrayIconForTraffic(std::uint64_t previousSent, std::uint64_t previousReceived, std::uint64_t sent,
                       std::uint64_t received) {
  const bool sentChanged = sent != previousSent;
  const bool receivedChanged = received != previousReceived;
  if (sentChanged && receivedChanged) return kIconBothChanged;
  if (sentChanged) return kIconSentChanged;
  if (receivedChanged) return kIconReceivedChanged;
  return kIconIdle;
}

DockPlacement PlaceAccelerateDialog(const ScreenRect& monitor, const ScreenRect& mainWindow, const ScreenRect& dialog) {
  const int w = mainWindow.Width();
  const int d = dialog.Width();
  int x = mainWindow.left;
  if (x + w + d > monitor.right) x = monitor.right - w - d;
  if (x < monitor.left) x = monitor.left;
  return {x, x + w, mainWindow.top};
}

DockPlacement FollowMainWindow(const ScreenRect& mainWindow) {
  return {mainWindow.left, mainWindow.right, mainWindow.top};
}

UrlOpenedBy OpenUrl(IUrlLauncher& launcher, const std::wstring& url) {
  if (!IsWebAddress(url)) {
    // A click that does nothing looks like a broken client: say why instead.
    // The address is the service's text, shown on one line and cut short.
    std::wstring shown = url.substr(0, 200);
    for (wchar_t& c : shown)
      if (c < 0x20 || c == 0x7F) c = L' ';
    if (url.size() > shown.size()) shown += L"...";
    launcher.ShowMessage(GetText("LinkIsNotAWebAddress") + L"\n\n" + shown, L"Quillnet", BoxIcon::Warning);
    return UrlOpenedBy::Refused;
  }
  if (launcher.ShellOpen(url)) return UrlOpenedBy::Shell;
  if (launcher.Run(L"rundll32.exe", L"url.dll,FileProtocolHandler " + url)) return UrlOpenedBy::UrlHandler;
  if (launcher.Run(L"C:\\Program Files\\Internet Explorer\\iexplore.exe", url)) return UrlOpenedBy::FixedBrowser;
  launcher.ShowMessage(url, L"Please visit:", BoxIcon::Information);
  return UrlOpenedBy::MessageBox;
}

std::wstring WebButtonUrl(int controlId, const std::wstring& webSiteUrl) {
  switch (controlId) {
    case 1005:
      return AddChannelTag(webSiteUrl + L"register.php");
    case 1006:
      return AddChannelTag(webSiteUrl + L"purchase.php");
    case 1007:
      return AddChannelTag(webSiteUrl + L"freetrial.php");
    case 1009:
      return AddChannelTag(webSiteUrl + L"help.php");
    case 1012:
      return AddChannelTag(webSiteUrl);
    case 1040:
      return webSiteUrl + L"retrieve_password.php";
    default:
      return {};
  }
}

AnnouncementSlots ReadAnnouncements(const std::wstring& documentPath) {
  AnnouncementSlots slots;
  for (int i = 0; i < 4; ++i) {
    const std::wstring n = std::to_wstring(i);
    const std::wstring title = IniReadText(documentPath, L"Announcements", L"Title" + n);
    if (title.empty()) continue;
    slots[static_cast<std::size_t>(i)].link = IniReadString(documentPath, L"Announcements", L"Url" + n, L"");
    const std::int64_t when = IniReadInt64(documentPath, L"Announcements", L"DatetimeGMT" + n);
    slots[static_cast<std::size_t>(i)].text = L"[" + FormatLocalDate(when) + L"] " + title;
  }
  return slots;
}

std::wstring ReadClientIp(const std::wstring& documentPath) {
  return IniReadString(documentPath, L"VPN", L"ClientIP", GetText("UnknownClientIP"));
}

std::wstring AboutText(const std::wstring& buildDate, const std::wstring& webSiteUrl) {
  return L"Quillnet " + NarrowToWide(kClientVersionText) + L" (" + buildDate + L")\n\n" +
         L"Copyright (C) The Quillnet developers. All rights reserved.\n\n" + webSiteUrl + L"\n";
}

std::wstring AboutText(IModuleVersion& version, const std::wstring& webSiteUrl) {
  version.LoadVersion(nullptr);
  return AboutText(version.GetValue(L"BuildDate"), webSiteUrl);
}
