// Linux has no shortcut files and no system image list; a program is started
// as a plain child.
#include <spawn.h>
#include <sys/wait.h>

#include "accel/app_list.h"
#include "platform/strings.h"

extern char** environ;

namespace {

class CNoShortcutResolver : public IShortcutResolver {
 public:
  bool ResolveShortcutTarget(const std::wstring&, std::wstring&) override { return false; }
};

class CSpawnLauncher : public IAppLauncher {
 public:
  bool LaunchThroughDesktopShell(const std::wstring&) override { return false; }
  bool LaunchDirect(void*, const std::wstring& file) override {
    const std::string path = WideToNarrow(file);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0;
  }
};

class CNoImageList : public ISystemImageList {
 public:
  int ImageIndexFor(const std::wstring&) override { return 0; }
};

}  // namespace

std::unique_ptr<IShortcutResolver> CreateSystemShortcutResolver() { return std::make_unique<CNoShortcutResolver>(); }
std::unique_ptr<IAppLauncher> CreateSystemAppLauncher() { return std::make_unique<CSpawnLauncher>(); }
std::unique_ptr<ISystemImageList> CreateSystemImageList() { return std::make_unique<CNoImageList>(); }
