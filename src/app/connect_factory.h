// The product's connections for the connect flow: dial-up connections over
// the system's dial-up library and OpenVPN connections, each set up from
// the server's values.
#pragma once
#include <string>

#include "app/connect_controller.h"
#include "platform/clock.h"
#include "routing/route_table.h"
#include "vpn/ras_api.h"

class CSystemConnectionFactory : public IConnectionFactory {
 public:
  // All three outlive the factory and its connections. `openVpnDirectory`
  // holds openvpn and its files and ends with the path separator.
  CSystemConnectionFactory(IForwardTable& table, IRasApi& ras, IClock& clock, std::wstring openVpnDirectory)
      : table_(table), ras_(ras), clock_(clock), openVpnDirectory_(std::move(openVpnDirectory)) {}
  std::unique_ptr<CGeneralVpn> Create(std::int32_t type, const VpnServerInfo& server) override;

 private:
  IForwardTable& table_;
  IRasApi& ras_;
  IClock& clock_;
  std::wstring openVpnDirectory_;
};
