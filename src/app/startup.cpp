#include "app/startup.h"

#include "platform/strings.h"
#include "text/text_table.h"
#include "platform/text_parse.h"

CommandLineSwitch ParseCommandLine(const std::vector<std::wstring>& arguments) {
  CommandLineSwitch result;
  if (arguments.empty()) return result;
  const std::wstring first = ToLowerAscii(std::wstring_view(arguments[0]));
  if (first == L"/register") {
    result.kind = StartSwitch::Register;
  } else if (first == L"/unregister") {
    result.kind = StartSwitch::Unregister;
  } else if (first == L"/update" && arguments.size() >= 2 && !arguments[1].empty()) {
    result.kind = StartSwitch::Update;
    result.target = arguments[1];
  }
  return result;
}

std::wstring FileNameOf(std::wstring_view path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

bool RunUpdateSwitch(IUpdateSwitchPorts& ports, const std::wstring& modulePath, const std::wstring& target) {
  const std::wstring name = ToLowerAscii(std::wstring_view(FileNameOf(target)));
  for (int attempt = 0; attempt < 10; ++attempt) {
    // The old copy may still be closing; after eight seconds it is ended.
    if (attempt == 8 && !name.empty()) ports.EndProcessesNamed(name);
    if (ports.CopyOver(modulePath, target)) {
      ports.Start(target);
      return true;
    }
    ports.Sleep(1000);
  }
  ports.ShowMessage(GetText("CanNotUpdateGreenFile"), BoxIcon::Warning);
  return false;
}

MachineIdentities ComputeMachineIdentities(IMachineInfoSource& source, int osMajor, int osMinor) {
  MachineIdentities ids;
  ids.bios = osMajor == 5 && osMinor == 0 ? std::string("SKIP_FOR_NT5") : GetBiosIdentity(source);
  ids.disk = GetDiskIdentity(source);
  ids.network = GetAdapterIdentity(source);
  return ids;
}

std::shared_future<MachineIdentities> ComputeMachineIdentitiesLater(
    std::function<std::unique_ptr<IMachineInfoSource>()> makeSource, int osMajor, int osMinor) {
  return std::async(std::launch::async,
                    [makeSource = std::move(makeSource), osMajor, osMinor] {
                      const std::unique_ptr<IMachineInfoSource> source = makeSource();
                      if (!source) return MachineIdentities{};
                      return ComputeMachineIdentities(*source, osMajor, osMinor);
                    })
      .share();
}

bool IsSupportedSystem(const SystemVersion& version) {
  if (version.major != 6) return version.major > 6;
  if (version.minor != 1) return version.minor > 1;
  return version.servicePack >= 1;
}

bool RunStartup(IStartupPorts& ports, const CommandLineSwitch& commandLine) {
  ports.SeedRandom();
  const bool socketsStarted = ports.StartSocketLibrary();
  if (socketsStarted) ports.OpenAndCloseSocket();
  // Asked while the providers are loaded: the last stop unloads them, and
  // the module would look missing at every start.
  const bool bindLoaded = ports.IsBindModuleLoaded();
  if (socketsStarted) ports.StopSocketLibrary();
  ports.StepDone("sockets-touched");
  if (!bindLoaded) {
    ports.RegisterBindModule(false);
    ports.RegisterBindModule(true);
    ports.StepDone("bind-registered");
  }
  ports.LoadTexts();
  ports.StepDone("texts");
  ports.InitComAndControls();
  ports.StepDone("com-controls");
  ports.InitFramework();
  ports.RegisterSkin();
  ports.StepDone("skin");
  ports.AllowDroppedFiles();

  switch (commandLine.kind) {
    case StartSwitch::Register: {
      ports.RegisterBindModule(false);
      const bool ok = ports.RegisterBindModule(true) == 0;
      ports.ShowMessage(GetText(ok ? "RegisterModulesSuccessfully" : "RegisterModulesFailed"),
                        ok ? BoxIcon::Information : BoxIcon::Warning);
      return false;
    }
    case StartSwitch::Unregister: {
      const bool ok = ports.RegisterBindModule(false) == 0;
      ports.ShowMessage(GetText(ok ? "UnregisterModulesSuccessfully" : "UnregisterModulesFailed"),
                        ok ? BoxIcon::Information : BoxIcon::Warning);
      return false;
    }
    case StartSwitch::Update:
      ports.RunUpdateSwitch(commandLine.target);
      return false;
    case StartSwitch::None:
      break;
  }

  const bool mutexExisted = ports.CreateInstanceMutex();
  if (mutexExisted || ports.FindFirstInstanceWindow()) {
    ports.ShowMessage(GetText("VpnAppAlreadyRunUseTrayIconToActivate"), BoxIcon::Information);
    ports.ShowFirstInstanceWindow();
    return false;
  }
  // Only the one running client may undo routes: a second instance must
  // never delete the first one's.
  ports.ReplayRouteJournal();
  ports.StepDone("route-journal");
  ports.DeleteLeftoverDownloads();
  ports.ComputeMachineIdentities();
  ports.StepDone("identities");
  ports.StartSockets();
  const bool created = ports.CreateMainWindow();
  ports.StepDone("main-window");
  return created;
}
