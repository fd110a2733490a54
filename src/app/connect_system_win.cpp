#include "app/connect_system_win.h"

#include "account/machine_registry_port.h"
#include "platform/system_version.h"
#include "vpn/l2tp_system.h"
#include "vpn/vpn_adapter.h"

namespace {

class CL2tpPrompt : public IL2tpPrompt {
 public:
  explicit CL2tpPrompt(IConnectView& view) : view_(view) {}
  bool AskYesNo(const std::wstring& text) override { return view_.AskYesNo(text, BoxIcon::Question, false); }
  void RunBlocked(IOperation& operation) override { view_.RunBlocked(operation, 1000); }

 private:
  IConnectView& view_;
};

class CDhcpWarning : public IDhcpWarningView {
 public:
  explicit CDhcpWarning(IConnectView& view) : view_(view) {}
  void ShowDhcpWarning(const std::wstring& text) override {
    view_.ShowMainWindow(true);
    view_.ShowBox(text, BoxIcon::Warning);
  }
  void EndConnection() override { ended = true; }
  bool ended = false;

 private:
  IConnectView& view_;
};

}  // namespace

void CWindowsConnectSystem::PrepareSystemForL2tp(const std::wstring& preSharedKey) {
  CSystemL2tp system;
  CL2tpPrompt prompt(view_);
  ::PrepareSystemForL2tp(system.Get(), prompt, preSharedKey);
}

void CWindowsConnectSystem::DownloadAndRunUpdate(const std::string& loginReply) {
  if (runUpdate_) runUpdate_(loginReply);
}

void CWindowsConnectSystem::PutVpnBindingFirst() {
  const std::unique_ptr<IMachineRegistry> registry = CreateSystemMachineRegistry();
  ::PutVpnBindingFirst(*registry, SystemMajorVersion());
}

bool CWindowsConnectSystem::DisableDhcpOnVpnAdapter(const std::wstring& localIp) {
  const std::unique_ptr<IMachineRegistry> registry = CreateSystemMachineRegistry();
  CDhcpWarning warning(view_);
  ::DisableDhcpOnVpnAdapter(*registry, warning, localIp);
  return warning.ended;
}
