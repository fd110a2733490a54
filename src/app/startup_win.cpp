#include "app/startup_win.h"

#include "platform/win32.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "account/request_random.h"

void SeedRandomFromClock() { SeedRequestRandom(static_cast<std::uint32_t>(std::time(nullptr))); }

void AllowDroppedFilesWin() {
  HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (!user32) return;
  using Filter = BOOL(WINAPI*)(UINT, DWORD);
  auto filter = reinterpret_cast<Filter>(reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilter")));
  if (!filter) return;
  constexpr UINT kCopyGlobalData = 0x49;
  constexpr UINT kDropFiles = 0x233;
  constexpr DWORD kAdd = 1;
  filter(kCopyGlobalData, kAdd);
  filter(kDropFiles, kAdd);
}

void* CreateSingleInstanceMutex(const wchar_t* name, bool& existed) {
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, name);
  existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
  return mutex;
}

void TraceStartupStep(const char* step) {
  // A switch, not a path: the client runs as administrator, and a name from
  // the environment would let anyone who can set it append to any file.
  wchar_t on[4] = {};
  const DWORD n = ::GetEnvironmentVariableW(L"QUILLNET_STARTUP_TRACE", on, 4);
  if (n != 1 || on[0] != L'1') return;
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::wstring file(path, length);
  file.erase(file.find_last_of(L'\\') + 1);
  file += L"startup-trace.txt";
  FILETIME created{}, exited{}, kernel{}, user{}, now{};
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return;
  ::GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const long long ms = (static_cast<long long>(ticks(now)) - static_cast<long long>(ticks(created))) / 10000;
  const HANDLE handle = ::CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  char line[96];
  const int written = std::snprintf(line, sizeof line, "%.60s %lld\n", step, ms);
  DWORD done = 0;
  if (written > 0) ::WriteFile(handle, line, static_cast<DWORD>(written), &done, nullptr);
  ::CloseHandle(handle);
}
