#include "routing/route_request_policy.h"

#include <algorithm>

namespace {

// A "connected" route shorter than this is a redirect (0/1 and 128/1 of a
// tunnel that takes the default), not a link: refusing it would refuse
// half of the Internet.
constexpr int kShortestLinkPrefix = 8;

bool InNetwork(std::uint32_t address, const Ipv4Network& network) {
  return (address & network.mask) == (network.address & network.mask);
}

}  // namespace

bool IsNeverRoutedOnRequest(std::uint32_t address) {
  const std::uint32_t h = NetToHost(address);
  const std::uint32_t first = h >> 24;
  if (first == 0 || first == 127) return true;
  if ((h & 0xFFFF0000u) == 0xA9FE0000u) return true;  // 169.254.0.0/16
  return h >= 0xE0000000u;                           // multicast, reserved, broadcast
}

bool MayRouteOnRequest(const RouteRequestPolicy& policy, std::uint32_t address) {
  if (IsNeverRoutedOnRequest(address)) return false;
  if (std::find(policy.hosts.begin(), policy.hosts.end(), address) != policy.hosts.end()) return false;
  return std::none_of(policy.networks.begin(), policy.networks.end(),
                      [&](const Ipv4Network& n) { return InNetwork(address, n); });
}

RouteRequestPolicy BuildRouteRequestPolicy(const std::vector<ForwardRow>& rows,
                                           const std::vector<AdapterAddress>& adapters, std::uint32_t vpnIfIndex,
                                           std::uint32_t localIp, std::uint32_t serverAddress) {
  RouteRequestPolicy policy;
  for (std::uint32_t host : {serverAddress, localIp})
    if (host != 0 && host != kAddressNone) policy.hosts.push_back(host);
  auto adapterAddress = [&](std::uint32_t ifIndex) {
    std::uint32_t address = 0;
    for (const AdapterAddress& a : adapters)
      if (a.ifIndex == ifIndex && !a.firstAddress.empty() && ParseIpv4Strict(a.firstAddress, address)) return address;
    return std::uint32_t{0};
  };
  for (const ForwardRow& row : rows) {
    const int prefix = MaskToPrefixLength(row.mask);
    if (prefix < kShortestLinkPrefix) continue;
    // On a link: the system says so, or the next hop is the adapter itself
    // (how the Windows table shows a connected network).
    const std::uint32_t own = adapterAddress(row.ifIndex);
    const bool onLink = row.type == kRouteTypeDirect || (own != 0 && row.nextHop == own);
    if (!onLink) continue;
    // Host routes through the tunnel are ours (and the DNS servers'), not
    // a link.
    if (row.ifIndex == vpnIfIndex && prefix == 32) continue;
    policy.networks.push_back({row.destination & row.mask, row.mask});
  }
  return policy;
}
