#include "platform/dll_search.h"

#include "platform/win32.h"

bool RestrictDllSearch() {
  // Works everywhere: the current folder leaves the search order.
  ::SetDllDirectoryW(L"");
  // Looked up, never imported: Windows 7 without its update lacks it, and
  // an import would keep the program from starting there at all.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  auto set = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                          reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")))
                    : nullptr;
  return set && set(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
}
