// The Windows client's entry point.
#include "platform/win32.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "account/trust_anchors.h"
#include "app/shell_launch.h"
#include "app/startup.h"
#include "app/startup_win.h"
#include "app/vpn_app_win.h"
#include "platform/dll_search.h"
#include "text/text_table.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // First of all: no DLL loaded from here on may come from the current
  // folder or PATH.
  RestrictDllSearch();
  // Before any use of OpenSSL: it must not read a configuration from a
  // folder another user could have made.
  KeepTlsLibraryFromReadingConfiguration();
  // Before anything of the start-up: its calls may not exist on such a system.
  if (const std::optional<SystemVersion> version = RunningSystemVersion(); version && !IsSupportedSystem(*version)) {
    LoadTextTable();
    ShowClientMessage(nullptr, GetText("SystemTooOldForClient"), BoxIcon::Error);
    return 1;
  }
  std::vector<std::wstring> arguments;
  int argc = 0;
  if (wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    ::LocalFree(argv);
  }
  TraceStartupStep("entry");
  CVpnApp app;
  if (!app.InitInstance(arguments, {})) return 0;
  const int code = app.Run();
  app.ExitInstance();
  return code;
}
