// Which host routes the per-application route request server may add. The
// requests come from any program the user runs, so an address is refused
// when routing it into the tunnel would cut the machine off (loopback, the
// LAN, the VPN server itself), would mean nothing (link-local, multicast,
// broadcast, "this network"), or would loop the tunnel into itself.
#pragma once
#include <cstdint>
#include <vector>

#include "routing/route_table.h"

// Addresses and masks in network byte order.
struct Ipv4Network {
  std::uint32_t address = 0;
  std::uint32_t mask = 0;
};

struct RouteRequestPolicy {
  // Refused exactly: the VPN server, the tunnel's own address.
  std::vector<std::uint32_t> hosts;
  // Refused with every address in them, their broadcast address included:
  // the networks on the machine's links, the tunnel's among them.
  std::vector<Ipv4Network> networks;
};

// The addresses no policy lets through: 0.0.0.0/8, loopback, link-local,
// multicast and everything from 240.0.0.0 up (the limited broadcast too).
bool IsNeverRoutedOnRequest(std::uint32_t address);

bool MayRouteOnRequest(const RouteRequestPolicy& policy, std::uint32_t address);

// The policy for a connection, from the forwarding table and adapters as
// they are once the tunnel is up. `vpnIfIndex` is the tunnel's interface;
// `serverAddress` and `localIp` are 0 when unknown.
RouteRequestPolicy BuildRouteRequestPolicy(const std::vector<ForwardRow>& rows,
                                           const std::vector<AdapterAddress>& adapters, std::uint32_t vpnIfIndex,
                                           std::uint32_t localIp, std::uint32_t serverAddress);
