#include "accel/bind_module.h"
#include "account/settings.h"
#include "platform/win32.h"

#include <winsock2.h>

const wchar_t kBindModuleName[] = L"QuillnetBind.dll";

namespace {

class CWinModuleLoader : public IModuleLoader {
 public:
  void* Load(const std::wstring& name) override {
    // The program folder first, so a module elsewhere on the search path
    // never stands in for ours.
    if (HMODULE h = LoadLibraryW((ModuleFolder() + name).c_str())) return h;
    return LoadLibraryW(name.c_str());
  }
  void* FindLoaded(const std::wstring& name) override { return GetModuleHandleW(name.c_str()); }
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
