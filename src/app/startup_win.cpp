#include "app/startup_win.h"

#include "platform/win32.h"

#include <ctime>

#include "account/request_random.h"

void SeedRandomFromClock() { SeedRequestRandom(static_cast<std::uint32_t>(std::time(nullptr))); }

bool LoadSocketProvidersWin() {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) == 0) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) ::closesocket(s);
    ::WSACleanup();
  }
  return ::GetModuleHandleW(kBindModuleFileName) != nullptr;
}

std::uint32_t RegisterBindModuleWin(bool doRegister, const wchar_t* moduleName) {
  HMODULE module = ::LoadLibraryW(moduleName);
  if (!module) return 1;
  using Entry = HRESULT(WINAPI*)();
  auto entry = reinterpret_cast<Entry>(
      reinterpret_cast<void*>(::GetProcAddress(module, doRegister ? "DllRegisterServer" : "DllUnregisterServer")));
  const std::uint32_t result = entry ? static_cast<std::uint32_t>(entry()) : 1u;
  ::FreeLibrary(module);
  return result;
}

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
