#include "routing/route_table.h"

#include <bit>

#include "platform/strings.h"

bool SameRoute(const ForwardRow& a, const ForwardRow& b) {
  return a.destination == b.destination && a.mask == b.mask && a.nextHop == b.nextHop && a.ifIndex == b.ifIndex &&
         a.metric1 == b.metric1;
}

std::uint32_t HostToNet(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little)
    return (value >> 24) | (value >> 8 & 0xFF00u) | (value << 8 & 0xFF0000u) | (value << 24);
  return value;
}

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f'; }

int DigitValue(wchar_t c, int base) {
  int v = -1;
  if (c >= L'0' && c <= L'9') v = c - L'0';
  else if (c >= L'a' && c <= L'f') v = c - L'a' + 10;
  else if (c >= L'A' && c <= L'F') v = c - L'A' + 10;
  return v >= 0 && v < base ? v : -1;
}

}  // namespace

std::uint32_t ParseIpv4(std::wstring_view text) {
  std::uint32_t address = kAddressNone;
  return TryParseIpv4(text, address) ? address : kAddressNone;
}

bool TryParseIpv4(std::wstring_view text, std::uint32_t& address) {
  std::uint64_t parts[4] = {};
  int count = 0;
  std::size_t i = 0;
  for (;;) {
    if (i >= text.size() || DigitValue(text[i], 10) < 0) return false;
    int base = 10;
    if (text[i] == L'0') {
      base = 8;
      ++i;
      if (i < text.size() && (text[i] == L'x' || text[i] == L'X')) {
        base = 16;
        ++i;
      }
    }
    std::uint64_t value = 0;
    bool any = base == 8;  // a lone "0" is a number
    while (i < text.size() && DigitValue(text[i], base) >= 0) {
      value = value * base + DigitValue(text[i], base);
      if (value > 0xFFFFFFFFull) return false;
      any = true;
      ++i;
    }
    if (!any) return false;
    parts[count++] = value;
    if (i < text.size() && text[i] == L'.') {
      if (count == 4) return false;
      ++i;
      continue;
    }
    if (i < text.size() && !IsSpace(text[i])) return false;
    break;
  }
  std::uint64_t host = 0;
  switch (count) {
    case 1:
      host = parts[0];
      break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return false;
      host = parts[0] << 24 | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return false;
      host = parts[0] << 24 | parts[1] << 16 | parts[2];
      break;
    default:
      for (int k = 0; k < 4; ++k)
        if (parts[k] > 0xFF) return false;
      host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
  }
  address = HostToNet(static_cast<std::uint32_t>(host));
  return true;
}

std::wstring FormatIpv4(std::uint32_t address) {
  const std::uint32_t h = NetToHost(address);
  return std::to_wstring(h >> 24) + L'.' + std::to_wstring(h >> 16 & 0xFF) + L'.' + std::to_wstring(h >> 8 & 0xFF) +
         L'.' + std::to_wstring(h & 0xFF);
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
  if (!TryParseIpv4(destination, row.destination) || !TryParseIpv4(mask, row.mask)) return kErrorInvalidAddress;
  return table.AddForwardRow(row);
}

std::uint32_t DeleteRoute(IForwardTable& table, std::wstring_view destination, std::wstring_view mask,
                          const ForwardRow& templ) {
  ForwardRow row = templ;
  row.destination = ParseIpv4(destination);
  row.mask = ParseIpv4(mask);
  // Never the default route, whatever the caller's text said.
  if (row.destination == 0 || row.mask == 0) return 0;
  if (!TryParseIpv4(destination, row.destination) || !TryParseIpv4(mask, row.mask)) return kErrorInvalidAddress;
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
