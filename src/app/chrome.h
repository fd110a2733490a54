// The main window's surroundings without the window: the tray filter's
// decisions, the tray icon for the traffic, docking of the accelerate
// dialog, opening web pages, the announcements, the About text.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/message_box.h"
#include "app/module_version.h"

// "%Y-%m-%d" in the local time zone; empty when the time cannot be converted.
std::wstring FormatLocalDate(std::int64_t secondsSince1970);

// --- tray ---------------------------------------------------------------
constexpr std::uint32_t kTrayIconId = 1;
constexpr std::uint32_t kTrayCallbackMessage = 0x0400 + 1;
constexpr std::uint32_t kShowMainWindowMessage = 0x8000 + 1;
constexpr int kIconWindow = 128;
constexpr int kIconNotConnected = 132;
constexpr int kIconBothChanged = 133;
constexpr int kIconSentChanged = 134;
constexpr int kIconIdle = 135;
constexpr int kIconReceivedChanged = 136;

enum class TrayAction {
  None,
  ReAddIcon,          // the shell restarted: remove if marked added, add again
  ShowMenu,           // foreground, submenu at the cursor, then WM_NULL
  RunDefaultCommand,  // foreground, WM_COMMAND of the default item
  ShowMainWindow,     // not handled: the window shows itself
  RemoveIcon,         // WM_DESTROY: remove, then the window's own handling
};

struct TrayDecision {
  bool handled = false;
  TrayAction action = TrayAction::None;
};

// `taskbarCreated` is the registered "TaskbarCreated" message (0 when the
// registration failed, so it never matches).
TrayDecision TrayFilter(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                        std::uint32_t taskbarCreated);

// The connected icon from this tick's counters against the previous tick's.
int TrayIconForTraffic(std::uint64_t previousSent, std::uint64_t previousReceived, std::uint64_t sent,
                       std::uint64_t received);

// The size the shell expects of its icon record, by the shell library's
// major version: 952/936/152 on 32-bit systems, 968/952/168 on 64-bit ones.
// The tray checks these against the system headers when it is compiled.
constexpr std::uint32_t NotifyIconDataSize(int shellMajorVersion, bool sixtyFourBit) {
  if (shellMajorVersion >= 6) return sixtyFourBit ? 968 : 952;
  if (shellMajorVersion == 5) return sixtyFourBit ? 952 : 936;
  return sixtyFourBit ? 168 : 152;
}

// --- docking ------------------------------------------------------------
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
};
struct DockPlacement {
  int mainLeft = 0;
  int dialogLeft = 0;
  int top = 0;  // both windows' top
};
// The main window keeps its top; the pair moves left to stay on the
// monitor, but never past the monitor's left edge.
DockPlacement PlaceAccelerateDialog(const ScreenRect& monitor, const ScreenRect& mainWindow, const ScreenRect& dialog);
// While the main window is dragged: the dialog follows at its right edge.
DockPlacement FollowMainWindow(const ScreenRect& mainWindow);

// --- web pages ----------------------------------------------------------
class IUrlLauncher {
 public:
  virtual ~IUrlLauncher() = default;
  virtual bool ShellOpen(const std::wstring& target) = 0;
  virtual bool Run(const std::wstring& program, const std::wstring& parameters) = 0;
  virtual void ShowMessage(const std::wstring& text, const std::wstring& caption, BoxIcon icon) = 0;
};

enum class UrlOpenedBy { Shell, UrlHandler, FixedBrowser, MessageBox, Refused };
// Only web addresses are opened: a text from the service never becomes a
// program or a file for the shell.
UrlOpenedBy OpenUrl(IUrlLauncher& launcher, const std::wstring& url);

// The page a web button or link opens, from the web site at the moment of
// the click; empty for an unknown id.
std::wstring WebButtonUrl(int controlId, const std::wstring& webSiteUrl);

// --- announcements ------------------------------------------------------
struct AnnouncementSlot {
  std::wstring text;
  std::wstring link;
};
using AnnouncementSlots = std::array<AnnouncementSlot, 4>;
AnnouncementSlots ReadAnnouncements(const std::wstring& documentPath);
// The public address the document names, else "detecting ...".
std::wstring ReadClientIp(const std::wstring& documentPath);

// --- About --------------------------------------------------------------
std::wstring AboutText(const std::wstring& buildDate, const std::wstring& webSiteUrl);
// The same with the build date of the program's own version resource.
std::wstring AboutText(IModuleVersion& version, const std::wstring& webSiteUrl);
