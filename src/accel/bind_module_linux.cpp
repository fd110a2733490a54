// On Linux the module is a shared object; "loaded into this process" is what
// the dynamic loader answers for RTLD_NOLOAD.
#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include "accel/bind_module.h"
#include "account/settings.h"
#include "platform/strings.h"

const wchar_t kBindModuleName[] = L"libquillnet_bind.so";

namespace {

class CDlModuleLoader : public IModuleLoader {
 public:
  void* Load(const std::wstring& name) override {
    const std::string local = WideToNarrow(ModuleFolder() + name);
    if (void* h = dlopen(local.c_str(), RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE)) return h;
    return dlopen(WideToNarrow(name).c_str(), RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
  }
  void* FindLoaded(const std::wstring& name) override {
    const std::string local = WideToNarrow(ModuleFolder() + name);
    if (void* h = dlopen(local.c_str(), RTLD_NOW | RTLD_NOLOAD)) return h;
    return dlopen(WideToNarrow(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
  }
  void* Symbol(void* module, const char* name) override { return dlsym(module, name); }
  void TouchSockets() override {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::unique_ptr<IModuleLoader> CreateSystemModuleLoader() { return std::make_unique<CDlModuleLoader>(); }
