#include "routing/route_table.h"

#include <bit>

#include "platform/strings.h"
#include "platform/text_parse.h"

bool SameRoute(const ForwardRow& a, const ForwardRow& b) {
  return a.destination == b.destination && a.mask == b.mask && a.nextHop == b.nextHop && a.ifIndex == b.ifIndex &&
         a.metric1 == b.metric1;
}

std::uint32_t ParseIpv4(std::wstring_view text) {
  std::uint32_t address = kAddressNone;
  return ParseIpv4Lenient(text, address) ? address : kAddressNone;
}

int MaskToPrefixLength(std::uint32_t mask) {
  const std::uint32_t h = NetToHost(mask);
  const int ones = std::countl_one(h);
  if (ones < 32 && (h << ones) != 0) return -1;
  return ones;
}

std::uint32_t PrefixLengthToMask(int length) {
  if (length <= 0) return 0;
  if (length >= 32) return 0xFFFFFFFFu;
  return HostToNet(~0u << (32 - length));
}

std::uint32_t AddRoute(IForwardTable& table, std::wstring_view destination, std::wstring_view mask,
                       const ForwardRow& templ) {
  ForwardRow row = templ;
  // A host name or garbage would otherwise become 255.255.255.255, which
  // some systems accept as a host route to the broadcast address.
  if (!ParseIpv4Lenient(destination, row.destination) || !ParseIpv4Lenient(mask, row.mask)) return kErrorInvalidAddress;
  return table.AddForwardRow(row);
}

std::uint32_t DeleteRoute(IForwardTable& table, std::wstring_view destination, std::wstring_view mask,
                          const ForwardRow& templ) {
  ForwardRow row = templ;
  row.destination = ParseIpv4(destination);
  row.mask = ParseIpv4(mask);
  // Never the default route, whatever the caller's text said.
  if (row.destination == 0 || row.mask == 0) return 0;
  if (!ParseIpv4Lenient(destination, row.destination) || !ParseIpv4Lenient(mask, row.mask)) return kErrorInvalidAddress;
  return table.DeleteForwardRow(row);
}

std::uint32_t MakeVpnRoute(IForwardTable& table, ForwardRow& row, std::wstring_view localIp) {
  std::vector<AdapterAddress> adapters;
  if (const std::uint32_t status = table.ListAdapters(adapters)) return status;
  for (const AdapterAddress& adapter : adapters)
    if (EqualsNoCaseAscii(std::wstring_view(adapter.firstAddress), localIp)) row.ifIndex = adapter.ifIndex;
  row.destination = 0;
  row.mask = 0;
  row.policy = 0;
  row.nextHop = ParseIpv4(localIp);
  row.type = kRouteTypeDirect;
  row.protocol = kRouteProtocolNetMgmt;
  row.age = 0;
  row.nextHopAs = 0;
  row.metric2 = row.metric3 = row.metric4 = row.metric5 = kMetricUnused;
  return 0;
}

void SetRouteMetric(IForwardTable& table, ForwardRow& row) {
  std::vector<InterfaceMetric> metrics;
  if (!table.ReadInterfaceMetrics(metrics)) {
    row.metric1 = 1;
    return;
  }
  for (const InterfaceMetric& m : metrics)
    if (m.ifIndex == row.ifIndex) row.metric1 = m.metric + 1;
}

AdapterDnsResult GetAdapterDns(IForwardTable& table, std::wstring_view friendlyName) {
  AdapterDnsResult result;
  std::vector<AdapterDnsServers> adapters;
  result.status = table.ListAdapterDns(adapters);
  if (result.status != 0) return result;
  for (const AdapterDnsServers& adapter : adapters) {
    if (adapter.friendlyName != friendlyName) continue;
    auto text = [](const DnsServerAddress& s) { return s.ipv4 ? FormatIpv4(s.address) : std::wstring(); };
    if (!adapter.servers.empty()) result.dns1 = text(adapter.servers[0]);
    if (adapter.servers.size() > 1) result.dns2 = text(adapter.servers[1]);
    break;
  }
  return result;
}

const ForwardRow* ChooseDefaultRoute(const std::vector<ForwardRow>& rows) {
  const ForwardRow* best = nullptr;
  for (const ForwardRow& row : rows)
    if (row.destination == 0 && row.mask == 0 && (!best || row.metric1 < best->metric1)) best = &row;
  return best;
}
