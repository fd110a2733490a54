#include "app/server_chooser_win.h"

#include "accel/bind_module.h"
#include "account/settings.h"
#include "dialogs/dlg_vpn_policy_win.h"

std::optional<ChooserResult> RunServerChooser(HWND owner, const std::wstring& replyPath,
                                              std::function<void()> fullUpdateAndExit) {
  VpnPolicyDialogInputs inputs;
  inputs.replyPath = replyPath;
  // Asked each time: the module may have been registered since start-up.
  const std::unique_ptr<IModuleLoader> loader = CreateSystemModuleLoader();
  inputs.bindModuleActive = IsBindModuleActive(*loader);
  inputs.bindModuleUsable = inputs.bindModuleActive || IsBindModuleUsable(*loader);
  inputs.registerBindModule = [](bool& activeAfter) {
    const std::unique_ptr<IModuleLoader> again = CreateSystemModuleLoader();
    UnregisterBindModule(*again);
    const std::int32_t result = RegisterBindModule(*again);
    activeAfter = result == 0 && IsBindModuleActive(*again);
    return result;
  };
  inputs.overrideFilePath = OverrideFilePath();
  inputs.startFullUpdateAndExit = std::move(fullUpdateAndExit);
  const std::optional<ConnectCheck> check = RunVpnPolicyDialog(owner, inputs);
  if (!check) return std::nullopt;
  ChooserResult result;
  result.route = check->route;
  result.vpnType = check->vpnType;
  result.server = check->server;
  return result;
}
