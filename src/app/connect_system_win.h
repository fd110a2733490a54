// The connect flow's system steps on Windows: the L2TP preparation and the
// DHCP check with the main window's questions and boxes, the adapter binding
// order, and the update run the main window starts.
#pragma once
#include <functional>
#include <string>

#include "app/connect_system.h"

class CWindowsConnectSystem : public CProductConnectSystem {
 public:
  // `view` asks and shows; `runUpdate` downloads and starts the full
  // set-up (the flow exits after it).
  CWindowsConnectSystem(std::wstring overridePath, std::wstring programFolder, IConnectView& view,
                        std::function<void(const std::string&)> runUpdate)
      : CProductConnectSystem(std::move(overridePath), std::move(programFolder)),
        view_(view), runUpdate_(std::move(runUpdate)) {}

  void PrepareSystemForL2tp(const std::wstring& preSharedKey) override;
  void DownloadAndRunUpdate(const std::string& loginReply) override;
  void PutVpnBindingFirst() override;
  bool DisableDhcpOnVpnAdapter(const std::wstring& localIp) override;

 private:
  IConnectView& view_;
  std::function<void(const std::string&)> runUpdate_;
};
