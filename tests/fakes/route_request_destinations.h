// The destinations a route request may and may not get, against the home
// network of SetUpHomeNetwork (LAN 192.168.1.0/24 on interface 2, tunnel
// 10.8.0.0/24 holding 10.8.0.6 on interface 7) and a server at 203.0.113.5:
// one table for the pure decision and for every transport.
#pragma once
#include <vector>

#include "fakes/fake_forward_table.h"
#include "fakes/route_request_bytes.h"
#include "routing/route_request_policy.h"

struct DestinationCase {
  const char* what;
  std::uint32_t address;
  bool routed;
};

inline std::uint32_t HomeServerAddress() { return Address(203, 0, 113, 5); }

inline RouteRequestPolicy HomeNetworkPolicy(CFakeForwardTable& table) {
  std::vector<ForwardRow> rows;
  std::vector<AdapterAddress> adapters;
  table.ReadForwardTable(rows);
  table.ListAdapters(adapters);
  return BuildRouteRequestPolicy(rows, adapters, 7, Address(10, 8, 0, 6), HomeServerAddress());
}

inline std::vector<DestinationCase> HomeNetworkDestinations() {
  return {
      {"loopback", Address(127, 0, 0, 1), false},
      {"loopback, top", Address(127, 255, 255, 254), false},
      {"this network", Address(0, 1, 2, 3), false},
      {"link-local", Address(169, 254, 10, 20), false},
      {"multicast", Address(224, 0, 0, 251), false},
      {"multicast, top", Address(239, 255, 255, 250), false},
      {"reserved", Address(240, 0, 0, 1), false},
      {"limited broadcast", Address(255, 255, 255, 255), false},
      {"the LAN's broadcast", Address(192, 168, 1, 255), false},
      {"the LAN's gateway", Address(192, 168, 1, 1), false},
      {"a LAN host", Address(192, 168, 1, 77), false},
      {"the adapter itself", Address(192, 168, 1, 10), false},
      {"the VPN server", Address(203, 0, 113, 5), false},
      {"the tunnel's own address", Address(10, 8, 0, 6), false},
      {"the tunnel's peer", Address(10, 8, 0, 1), false},
      {"the tunnel's broadcast", Address(10, 8, 0, 255), false},
      {"the server's neighbour", Address(203, 0, 113, 6), true},
      {"the next private network", Address(192, 168, 2, 1), true},
      {"beside the tunnel", Address(10, 8, 1, 1), true},
      {"a public host", Address(93, 184, 216, 34), true},
      {"the lowest public", Address(1, 0, 0, 1), true},
      {"just below link-local", Address(169, 253, 255, 255), true},
      {"just above link-local", Address(169, 255, 0, 1), true},
      {"just below multicast", Address(223, 255, 255, 254), true},
      {"just above loopback", Address(128, 0, 0, 1), true},
  };
}
