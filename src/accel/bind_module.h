// The client's side of the bind module: registration, the "active" test and
// the tunnel start/stop calls. The module is reached through IModuleLoader so
// the rules can be tested without a real module.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The module's file name on this platform.
extern const wchar_t kBindModuleName[];
// The interface version VpnBindStart is called with.
constexpr std::int32_t kBindInterfaceVersion = 8;

class IModuleLoader {
 public:
  virtual ~IModuleLoader() = default;
  // Loads by file name, the program folder first; never unloaded. Null when missing.
  virtual void* Load(const std::wstring& name) = 0;
  // Only a module already in this process; null otherwise.
  virtual void* FindLoaded(const std::wstring& name) = 0;
  virtual void* Symbol(void* module, const char* name) = 0;
  // Starts the socket library, creates and closes one TCP socket, cleans the
  // library up: what makes a registered module load into this process.
  virtual void TouchSockets() = 0;
};

std::unique_ptr<IModuleLoader> CreateSystemModuleLoader();

// 0 success; 1 when the module or the export is missing; otherwise what the
// export returned.
std::int32_t RegisterBindModule(IModuleLoader& loader);
std::int32_t UnregisterBindModule(IModuleLoader& loader);

// Loaded into this process after one TCP socket was made and closed.
bool IsBindModuleActive(IModuleLoader& loader);
// The module file beside the executable loads and has every export the
// client calls; false for a missing, damaged or foreign file.
bool IsBindModuleUsable(IModuleLoader& loader);
// Start-up: when the module is not active, unregister then register it.
void EnsureBindModuleRegistered(IModuleLoader& loader);

enum class BindStartResult { Started, IsBroken };
// `localIp` in network byte order. IsBroken (VpnBindStart missing) is told to
// the user through `showMessage` with the text of VpnBindIsBroken.
BindStartResult StartBindModule(IModuleLoader& loader, std::uint32_t localIp,
                                const std::function<void(const std::wstring&)>& showMessage);
void StopBindModule(IModuleLoader& loader);
