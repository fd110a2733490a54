#include "app/connect_factory.h"

#include "vpn/open_vpn.h"
#include "vpn/windows_vpn.h"

std::unique_ptr<CGeneralVpn> CSystemConnectionFactory::Create(std::int32_t type, const VpnServerInfo& server) {
  if (type == 1 || type == 2) {
    auto vpn = std::make_unique<CWindowsVpn>(type, table_, ras_, clock_);
    if (type == 1) vpn->useMppe = server.pptpUseMppe;
    if (type == 2) vpn->preSharedKey = server.ipsecSharedKey;
    return vpn;
  }
  if (type == 3) {
    auto vpn = std::make_unique<COpenVpn>(table_);
    vpn->openVpnParams = server.openVpn;
    // The process's folder is set by the component check, which runs after
    // the connection is made: the first connection would miss it.
    vpn->openVpnDirectory = openVpnDirectory_;
    return vpn;
  }
  return nullptr;
}
