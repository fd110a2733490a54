// The Windows client's entry point.
#include "platform/win32.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "app/vpn_app_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::vector<std::wstring> arguments;
  int argc = 0;
  if (wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc)) {
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    ::LocalFree(argv);
  }
  CVpnApp app;
  if (!app.InitInstance(arguments, {})) return 0;
  const int code = app.Run();
  app.ExitInstance();
  return code;
}
