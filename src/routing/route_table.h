// The IPv4 forwarding table and the adapters behind it, read into plain data
// through IForwardTable, and the route operations built on top of it. Every
// route the client makes is a copy of a template row with a new destination
// and mask.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_parse.h"

// One forwarding-table row, field for field the system's IPv4 row. Addresses
// are in network byte order.
struct ForwardRow {
  std::uint32_t destination = 0;
  std::uint32_t mask = 0;
  std::uint32_t policy = 0;
  std::uint32_t nextHop = 0;
  std::uint32_t ifIndex = 0;
  std::uint32_t type = 0;  // 3 direct, 4 through a gateway
  std::uint32_t protocol = 0;  // 3 network management
  std::uint32_t age = 0;
  std::uint32_t nextHopAs = 0;
  std::uint32_t metric1 = 0;
  std::uint32_t metric2 = 0;
  std::uint32_t metric3 = 0;
  std::uint32_t metric4 = 0;
  std::uint32_t metric5 = 0;
  bool operator==(const ForwardRow&) const = default;
};

constexpr std::uint32_t kRouteTypeDirect = 3;
constexpr std::uint32_t kRouteTypeIndirect = 4;
constexpr std::uint32_t kRouteProtocolNetMgmt = 3;
constexpr std::uint32_t kMetricUnused = 0xFFFFFFFFu;
constexpr std::uint32_t kAddressNone = 0xFFFFFFFFu;

// The fields by which the system tells one route from another, plus the
// metric: what "the same route" means when we look for one we added.
bool SameRoute(const ForwardRow& a, const ForwardRow& b);

struct AdapterAddress {
  std::uint32_t ifIndex = 0;
  std::wstring firstAddress;  // dotted; empty when the adapter has none
};

struct InterfaceMetric {
  std::uint32_t ifIndex = 0;
  std::uint32_t metric = 0;
};

struct DnsServerAddress {
  bool ipv4 = false;
  std::uint32_t address = 0;  // network byte order; only when ipv4
};

struct AdapterDnsServers {
  std::wstring friendlyName;
  std::vector<DnsServerAddress> servers;  // in the system's order
};

// The operating system's side. Error results are the system's own numbers
// (Win32 error codes on Windows, errno values on Linux); 0 is success.
class IForwardTable {
 public:
  virtual ~IForwardTable() = default;
  virtual std::uint32_t ReadForwardTable(std::vector<ForwardRow>& rows) = 0;
  virtual std::uint32_t AddForwardRow(const ForwardRow& row) = 0;
  virtual std::uint32_t DeleteForwardRow(const ForwardRow& row) = 0;
  // Every IPv4 adapter with its index and first address, in system order.
  virtual std::uint32_t ListAdapters(std::vector<AdapterAddress>& adapters) = 0;
  // False when the system has no per-interface metric table or it cannot be
  // read; the metric rule then falls back to 1.
  virtual bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) = 0;
  // Status 0 on success; 1 when the system offers no such list at all.
  virtual std::uint32_t ListAdapterDns(std::vector<AdapterDnsServers>& adapters) = 0;
  // Whether the client added the row and has not deleted it yet, where a
  // journal keeps track; false where nothing does.
  virtual bool OwnsRow(const ForwardRow&) { return false; }
};

// The system's table: IP helper on Windows, rtnetlink on Linux.
std::unique_ptr<IForwardTable> CreateSystemForwardTable();

// The lenient (inet_addr) reading of route entries and settings, as the
// classic call answers it: 255.255.255.255 for anything unparsable.
std::uint32_t ParseIpv4(std::wstring_view text);
// -1 when the mask is not a run of leading one bits.
int MaskToPrefixLength(std::uint32_t mask);
std::uint32_t PrefixLengthToMask(int length);

// What AddRoute and DeleteRoute answer for a destination or mask text that
// is no address (a host name, garbage): the system's "invalid parameter".
#ifdef _WIN32
constexpr std::uint32_t kErrorInvalidAddress = 87;
#else
constexpr std::uint32_t kErrorInvalidAddress = 22;
#endif

std::uint32_t AddRoute(IForwardTable& table, std::wstring_view destination, std::wstring_view mask,
                       const ForwardRow& templ);
std::uint32_t DeleteRoute(IForwardTable& table, std::wstring_view destination, std::wstring_view mask,
                          const ForwardRow& templ);
// Makes `row` a direct route template through the adapter whose first
// address is `localIp`; metric 1 is left to SetRouteMetric.
std::uint32_t MakeVpnRoute(IForwardTable& table, ForwardRow& row, std::wstring_view localIp);
void SetRouteMetric(IForwardTable& table, ForwardRow& row);

struct AdapterDnsResult {
  std::uint32_t status = 0;
  std::wstring dns1;
  std::wstring dns2;
};
AdapterDnsResult GetAdapterDns(IForwardTable& table, std::wstring_view friendlyName);

// The lowest metric among the default routes, the first on a tie; null
// when there is none.
const ForwardRow* ChooseDefaultRoute(const std::vector<ForwardRow>& rows);
