// Start-up's decisions: the command-line switches, the portable update's
// copy-retry loop and the order of the start-up steps, over ports so the
// sequence can be followed without a system under it.
#pragma once
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "account/account_service.h"
#include "account/machine_identity.h"
#include "app/message_box.h"
#include "platform/system_version.h"

enum class StartSwitch { None, Register, Unregister, Update };
struct CommandLineSwitch {
  StartSwitch kind = StartSwitch::None;
  std::wstring target;  // for Update
};
// `arguments` without the program name, as the system splits them; only the first one counts and it
// is compared lower-cased. "/update" without a target is ignored.
CommandLineSwitch ParseCommandLine(const std::vector<std::wstring>& arguments);

// What the "/update" loop does to the system.
class IUpdateSwitchPorts {
 public:
  virtual bool CopyOver(const std::wstring& from, const std::wstring& to) = 0;
  // Every other process whose executable's file name, lower-cased, is this.
  virtual void EndProcessesNamed(const std::wstring& lowerCaseFileName) = 0;
  virtual bool Start(const std::wstring& path) = 0;
  virtual void Sleep(std::uint32_t ms) = 0;
  virtual void ShowMessage(const std::wstring& text, BoxIcon icon) = 0;

 protected:
  ~IUpdateSwitchPorts() = default;
};

// The file name part of a path (after the last "\" or "/").
std::wstring FileNameOf(std::wstring_view path);
// Replaces `target` by `modulePath` and starts it; true when it did.
bool RunUpdateSwitch(IUpdateSwitchPorts& ports, const std::wstring& modulePath, const std::wstring& target);

// The start-up steps, each a port the application object implements.
class IStartupPorts {
 public:
  virtual void SeedRandom() = 0;
  // One TCP socket between a start and a stop of the socket library loads
  // the socket providers; the stop unloads them again.
  virtual bool StartSocketLibrary() = 0;
  virtual void OpenAndCloseSocket() = 0;
  virtual void StopSocketLibrary() = 0;
  virtual bool IsBindModuleLoaded() = 0;
  // DllRegisterServer / DllUnregisterServer's result; 1 when missing.
  virtual std::uint32_t RegisterBindModule(bool doRegister) = 0;
  virtual void LoadTexts() = 0;
  virtual void InitComAndControls() = 0;
  virtual void InitFramework() = 0;
  virtual void RegisterSkin() = 0;
  virtual void AllowDroppedFiles() = 0;
  virtual bool RunUpdateSwitch(const std::wstring& target) = 0;
  virtual void ShowMessage(const std::wstring& text, BoxIcon icon) = 0;
  // Creates the single-instance mutex; true when it already existed.
  virtual bool CreateInstanceMutex() = 0;
  // A dialog window titled "Quillnet" of another instance, if any.
  virtual bool FindFirstInstanceWindow() = 0;
  virtual void ShowFirstInstanceWindow() = 0;
  // Routes a crashed run left behind, before anything touches routes.
  virtual void ReplayRouteJournal() = 0;
  virtual void DeleteLeftoverDownloads() = 0;
  virtual void ComputeMachineIdentities() = 0;
  virtual void StartSockets() = 0;
  virtual bool CreateMainWindow() = 0;
  // After each step, named; for profiling a start.
  virtual void StepDone(const char* /*step*/) {}

 protected:
  ~IStartupPorts() = default;
};

// The three identities of step "machine identities"; Windows 2000 (5.0)
// sends a fixed BIOS text instead of asking its management service.
MachineIdentities ComputeMachineIdentities(IMachineInfoSource& source, int osMajor, int osMinor);
// The same on a thread of its own, the source made there too: the system's
// management service takes a while to answer, and nothing needs the
// identities before a login.
std::shared_future<MachineIdentities> ComputeMachineIdentitiesLater(
    std::function<std::unique_ptr<IMachineInfoSource>()> makeSource, int osMajor, int osMinor);

// The oldest system the client's imports allow: Windows 7 with Service Pack 1
// (6.1 SP1). Older ones are refused before anything else runs.
bool IsSupportedSystem(const SystemVersion& version);

// InitInstance: true keeps the program running with its main window.
bool RunStartup(IStartupPorts& ports, const CommandLineSwitch& commandLine);
