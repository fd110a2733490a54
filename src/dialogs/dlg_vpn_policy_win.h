// The server chooser: route, VPN type and server in one modal window, over
// the portable chooser controller. The main window calls RunVpnPolicyDialog
// after a successful login.
#pragma once
#include "platform/win32.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "servers/policy_chooser.h"
#include "servers/speed_probe.h"

struct VpnPolicyDialogInputs {
  std::wstring replyPath;  // the login reply document
  bool bindModuleActive = false;
  bool bindModuleUsable = true;  // the module beside us loads with its exports
  // Per application chosen while the module is not active: unregister and
  // register it again; the registration's result, and whether the module
  // is active afterwards. Empty: nothing is tried.
  std::function<std::int32_t(bool& activeAfter)> registerBindModule;
  // The local override file (AllowPingByICMP, AllowPingByUDP).
  std::wstring overrideFilePath;
  // Yes to the upgrade question: the online update of the full set-up, then
  // the main window's exit command.
  std::function<void()> startFullUpdateAndExit;
  std::uint16_t udpPort = kTimeServicePort;
  // A message box stand-in (tests); empty: the system's, captioned
  // "Quillnet". Returns the button pressed (IDOK, IDYES, IDNO).
  std::function<int(HWND owner, const std::wstring& text, UINT type)> messageBox;
  // Called with the dialog's window once it is set up (tests, benchmarks).
  std::function<void(HWND dialog)> onShown;
};

// Runs the chooser modally. On Connect: the chosen route, server and type
// (the five settings are written already); on Cancel: nothing.
std::optional<ConnectCheck> RunVpnPolicyDialog(HWND parent, const VpnPolicyDialogInputs& inputs);

// Control identifiers, for the main window's tests and the test driver.
constexpr int kPolicyRouteList = 1005;
constexpr int kPolicyTypeAuto = 1010;  // + VPN type
constexpr int kPolicyTabs = 1020;
constexpr int kPolicyServerList = 1021;
constexpr int kPolicyRemeasure = 1022;
constexpr int kPolicyTip = 1023;
constexpr int kPolicyPerAppNote = 1024;
