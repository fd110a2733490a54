// The product's connections for the connect flow: dial-up connections over
// the system's dial-up library and OpenVPN connections, each set up from
// the server's values.
#pragma once
#include "app/connect_controller.h"
#include "platform/clock.h"
#include "routing/route_table.h"
#include "vpn/ras_api.h"

class CSystemConnectionFactory : public IConnectionFactory {
 public:
  // All three outlive the factory and its connections.
  CSystemConnectionFactory(IForwardTable& table, IRasApi& ras, IClock& clock)
      : table_(table), ras_(ras), clock_(clock) {}
  std::unique_ptr<CGeneralVpn> Create(std::int32_t type, const VpnServerInfo& server) override;

 private:
  IForwardTable& table_;
  IRasApi& ras_;
  IClock& clock_;
};
