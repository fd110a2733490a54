#include "accel/bind_module.h"

#include "accel/bind_exports.h"
#include "text/text_table.h"

namespace {

std::int32_t CallRegistration(IModuleLoader& loader, const char* exportName) {
  void* module = loader.Load(kBindModuleName);
  if (!module) return 1;
  auto function = reinterpret_cast<BindRegisterFunction>(loader.Symbol(module, exportName));
  if (!function) return 1;
  return function();
}

}  // namespace

std::int32_t RegisterBindModule(IModuleLoader& loader) { return CallRegistration(loader, kBindRegisterExport); }

std::int32_t UnregisterBindModule(IModuleLoader& loader) { return CallRegistration(loader, kBindUnregisterExport); }

bool IsBindModuleActive(IModuleLoader& loader) {
  loader.TouchSockets();
  return loader.FindLoaded(kBindModuleName) != nullptr;
}

bool IsBindModuleUsable(IModuleLoader& loader) {
  void* module = loader.Load(kBindModuleName);
  if (!module) return false;
  for (const char* name : {kBindRegisterExport, kBindUnregisterExport, kBindStartExport, kBindStopExport})
    if (!loader.Symbol(module, name)) return false;
  return true;
}

void EnsureBindModuleRegistered(IModuleLoader& loader) {
  if (IsBindModuleActive(loader)) return;
  UnregisterBindModule(loader);
  RegisterBindModule(loader);
}

BindStartResult StartBindModule(IModuleLoader& loader, std::uint32_t localIp,
                                const std::function<void(const std::wstring&)>& showMessage) {
  void* module = loader.FindLoaded(kBindModuleName);
  auto start = module ? reinterpret_cast<BindStartFunction>(loader.Symbol(module, kBindStartExport)) : nullptr;
  if (!start) {
    if (showMessage) showMessage(GetText("VpnBindIsBroken"));
    return BindStartResult::IsBroken;
  }
  start(kBindInterfaceVersion, localIp);
  return BindStartResult::Started;
}

void StopBindModule(IModuleLoader& loader) {
  void* module = loader.FindLoaded(kBindModuleName);
  auto stop = module ? reinterpret_cast<BindStopFunction>(loader.Symbol(module, kBindStopExport)) : nullptr;
  if (stop) stop();
}
