#include "accel/bind_module.h"
#include "account/settings.h"
#include "platform/win32.h"

#include <winsock2.h>

const wchar_t kBindModuleName[] = L"QuillnetBind.dll";

namespace {

class CWinModuleLoader : public IModuleLoader {
 public:
  void* Load(const std::wstring& name) override {
    // Only ours, beside the executable: we call its registration as
    // administrator, so a module of that name anywhere on the search path
    // would run with our rights in every program.
    const std::wstring path = ModuleFolder() + name;
    if (path.find_first_of(L"\\/") == std::wstring::npos) return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  void* FindLoaded(const std::wstring& name) override {
    // A module of the same name from another folder is not ours.
    HMODULE module = GetModuleHandleW(name.c_str());
    if (!module) return nullptr;
    wchar_t loaded[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(module, loaded, MAX_PATH + 1);
    const std::wstring expected = ModuleFolder() + name;
    if (n == 0 || n > MAX_PATH || CompareStringOrdinal(loaded, static_cast<int>(n), expected.c_str(),
                                                      static_cast<int>(expected.size()), TRUE) != CSTR_EQUAL)
      return nullptr;
    return module;
  }
  void* Symbol(void* module, const char* name) override {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
  }
  void TouchSockets() override {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
  }
};

}  // namespace

std::unique_ptr<IModuleLoader> CreateSystemModuleLoader() { return std::make_unique<CWinModuleLoader>(); }
