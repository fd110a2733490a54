#include "app/startup_win.h"

#include "platform/win32.h"

#include <ctime>

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
