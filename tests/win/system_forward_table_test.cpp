// The system's forwarding table and adapters under Wine, where reads work,
// and the Windows table's changes over a stand-in of the IP helper that
// refuses what the real system refuses (Wine only stubs the changes).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fakes/test_vpn.h"
#include "routing/route_plan.h"
#include "routing/route_table.h"
#include "routing/route_table_win.h"

namespace {

TEST(WinForwardTable, ReadsTheSystemTableAndAdapters) {
  auto table = CreateSystemForwardTable();
  std::vector<ForwardRow> rows;
  EXPECT_EQ(table->ReadForwardTable(rows), 0u);
  std::vector<AdapterAddress> adapters;
  const std::uint32_t status = table->ListAdapters(adapters);
  EXPECT_TRUE(status == 0 || status == ERROR_NO_DATA) << status;
  std::vector<AdapterDnsServers> dns;
  EXPECT_EQ(table->ListAdapterDns(dns), 0u);
  std::vector<InterfaceMetric> metrics;
  table->ReadInterfaceMetrics(metrics);  // may be missing; must not crash
}

DWORD Address(const wchar_t* dotted) { return ParseIpv4(dotted); }

MIB_IPFORWARDROW SystemRow(const wchar_t* destination, const wchar_t* mask, const wchar_t* nextHop, DWORD ifIndex,
                           DWORD protocol, DWORD metric1) {
  MIB_IPFORWARDROW r{};
  r.dwForwardDest = Address(destination);
  r.dwForwardMask = Address(mask);
  r.dwForwardNextHop = Address(nextHop);
  r.dwForwardIfIndex = ifIndex;
  r.dwForwardType = r.dwForwardNextHop == r.dwForwardDest ? MIB_IPROUTE_TYPE_DIRECT : MIB_IPROUTE_TYPE_INDIRECT;
  r.dwForwardProto = protocol;
  r.dwForwardMetric1 = metric1;
  r.dwForwardMetric2 = r.dwForwardMetric3 = r.dwForwardMetric4 = r.dwForwardMetric5 = MIB_IPROUTE_METRIC_UNUSED;
  return r;
}

bool SameSystemRoute(const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) {
  return a.dwForwardDest == b.dwForwardDest && a.dwForwardMask == b.dwForwardMask &&
         a.dwForwardNextHop == b.dwForwardNextHop && a.dwForwardIfIndex == b.dwForwardIfIndex;
}

// The IP helper as its documentation describes it, over an in-memory table.
// Every structure handed to a change is kept as it arrived.
class CIpHelperStandIn : public IIpHelper {
 public:
  struct Interface {
    DWORD ifIndex;
    std::string address;
    DWORD metric;
  };

  DWORD GetIpForwardTable(PMIB_IPFORWARDTABLE table, PULONG size, BOOL) override {
    if (!size) return ERROR_INVALID_PARAMETER;
    const ULONG needed = static_cast<ULONG>(FIELD_OFFSET(MIB_IPFORWARDTABLE, table) +
                                            std::max<std::size_t>(rows.size(), 1) * sizeof(MIB_IPFORWARDROW));
    if (!table || *size < needed) {
      *size = needed;
      return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(rows.size());
    std::copy(rows.begin(), rows.end(), table->table);
    return NO_ERROR;
  }

  // CreateIpForwardEntry: "The caller must specify MIB_IPPROTO_NETMGMT for the
  // dwForwardProto member"; ERROR_INVALID_PARAMETER when it is not, when
  // dwForwardMask is not a valid IPv4 subnet mask, or another member is
  // invalid. Since Vista dwForwardMetric1 holds the interface's metric plus
  // the route's own, so it may not be below the interface's metric.
  DWORD CreateIpForwardEntry(PMIB_IPFORWARDROW row) override {
    if (!row) return ERROR_INVALID_PARAMETER;
    created.push_back(*row);
    if (row->dwForwardProto != MIB_IPPROTO_NETMGMT) return ERROR_INVALID_PARAMETER;
    if (MaskToPrefixLength(row->dwForwardMask) < 0) return ERROR_INVALID_PARAMETER;
    if ((row->dwForwardDest & ~row->dwForwardMask) != 0) return ERROR_INVALID_PARAMETER;
    const Interface* on = Find(row->dwForwardIfIndex);
    if (!on) return ERROR_INVALID_PARAMETER;
    if (row->dwForwardMetric1 < on->metric) return ERROR_INVALID_PARAMETER;
    for (const MIB_IPFORWARDROW& r : rows)
      if (SameSystemRoute(r, *row)) return ERROR_OBJECT_ALREADY_EXISTS;
    rows.push_back(*row);
    return NO_ERROR;
  }

  // DeleteIpForwardEntry identifies the route by destination, mask, next hop
  // and interface.
  DWORD DeleteIpForwardEntry(PMIB_IPFORWARDROW row) override {
    if (!row) return ERROR_INVALID_PARAMETER;
    deleted.push_back(*row);
    for (auto it = rows.begin(); it != rows.end(); ++it) {
      if (!SameSystemRoute(*it, *row)) continue;
      rows.erase(it);
      return NO_ERROR;
    }
    return ERROR_NOT_FOUND;
  }

  DWORD GetAdaptersInfo(PIP_ADAPTER_INFO info, PULONG size) override {
    if (!size) return ERROR_INVALID_PARAMETER;
    if (interfaces.empty()) return ERROR_NO_DATA;
    const ULONG needed = static_cast<ULONG>(interfaces.size() * sizeof(IP_ADAPTER_INFO));
    if (!info || *size < needed) {
      *size = needed;
      return ERROR_BUFFER_OVERFLOW;
    }
    std::memset(info, 0, needed);
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
      info[i].Index = interfaces[i].ifIndex;
      interfaces[i].address.copy(info[i].IpAddressList.IpAddress.String, 15);
      info[i].Next = i + 1 < interfaces.size() ? &info[i + 1] : nullptr;
    }
    return NO_ERROR;
  }

  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override {
    metrics.clear();
    for (const Interface& i : interfaces) metrics.push_back({i.ifIndex, i.metric});
    return true;
  }

  const Interface* Find(DWORD ifIndex) const {
    for (const Interface& i : interfaces)
      if (i.ifIndex == ifIndex) return &i;
    return nullptr;
  }

  std::vector<Interface> interfaces;
  std::vector<MIB_IPFORWARDROW> rows;
  std::vector<MIB_IPFORWARDROW> created;
  std::vector<MIB_IPFORWARDROW> deleted;
};

// A home network on interface 2 (metric 25) and a tunnel on 7 (metric 5);
// the default route as a DHCP client reads it.
void SetUpHome(CIpHelperStandIn& helper, DWORD defaultProtocol) {
  helper.interfaces = {{2, "192.168.1.10", 25}, {7, "10.8.0.6", 5}};
  helper.rows = {SystemRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, defaultProtocol, 50),
                 SystemRow(L"192.168.1.0", L"255.255.255.0", L"192.168.1.10", 2, MIB_IPPROTO_LOCAL, 281)};
}

TEST(WinForwardTableOverIpHelper, RowsReachTheIpHelperFieldForField) {
  CIpHelperStandIn helper;
  SetUpHome(helper, MIB_IPPROTO_NETMGMT);
  auto table = CreateWinForwardTable(helper);
  ForwardRow row;
  row.destination = Address(L"203.0.113.0");
  row.mask = Address(L"255.255.255.0");
  row.policy = 6;
  row.nextHop = Address(L"10.8.0.6");
  row.ifIndex = 7;
  row.type = kRouteTypeDirect;
  row.protocol = kRouteProtocolNetMgmt;
  row.age = 11;
  row.nextHopAs = 12;
  row.metric1 = 13;
  row.metric2 = 14;
  row.metric3 = 15;
  row.metric4 = 16;
  row.metric5 = 17;
  ASSERT_EQ(table->AddForwardRow(row), 0u);
  ASSERT_EQ(helper.created.size(), 1u);
  const MIB_IPFORWARDROW& r = helper.created[0];
  EXPECT_EQ(r.dwForwardDest, row.destination);
  EXPECT_EQ(r.dwForwardMask, row.mask);
  EXPECT_EQ(r.dwForwardPolicy, 6u);
  EXPECT_EQ(r.dwForwardNextHop, row.nextHop);
  EXPECT_EQ(r.dwForwardIfIndex, 7u);
  EXPECT_EQ(r.dwForwardType, static_cast<DWORD>(MIB_IPROUTE_TYPE_DIRECT));
  EXPECT_EQ(r.dwForwardProto, static_cast<DWORD>(MIB_IPPROTO_NETMGMT));
  EXPECT_EQ(r.dwForwardAge, 11u);
  EXPECT_EQ(r.dwForwardNextHopAS, 12u);
  EXPECT_EQ(r.dwForwardMetric1, 13u);
  EXPECT_EQ(r.dwForwardMetric2, 14u);
  EXPECT_EQ(r.dwForwardMetric3, 15u);
  EXPECT_EQ(r.dwForwardMetric4, 16u);
  EXPECT_EQ(r.dwForwardMetric5, 17u);

  std::vector<ForwardRow> rows;
  ASSERT_EQ(table->ReadForwardTable(rows), 0u);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2], row);

  ASSERT_EQ(table->DeleteForwardRow(row), 0u);
  ASSERT_EQ(helper.deleted.size(), 1u);
  EXPECT_TRUE(SameSystemRoute(helper.deleted[0], r));
  EXPECT_EQ(helper.rows.size(), 2u);
  EXPECT_EQ(table->DeleteForwardRow(row), static_cast<std::uint32_t>(ERROR_NOT_FOUND));

  std::vector<AdapterAddress> adapters;
  ASSERT_EQ(table->ListAdapters(adapters), 0u);
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[1].ifIndex, 7u);
  EXPECT_EQ(adapters[1].firstAddress, L"10.8.0.6");
}

// A copy of the default route keeps whatever protocol the system reported
// for it; the row that goes back must say network management all the same.
TEST(WinForwardTableOverIpHelper, EveryAddedRowIsANetworkManagementRoute) {
  const DWORD readProtocols[] = {MIB_IPPROTO_OTHER,          MIB_IPPROTO_LOCAL,     MIB_IPPROTO_NETMGMT,
                                 MIB_IPPROTO_NT_AUTOSTATIC,  MIB_IPPROTO_NT_STATIC, MIB_IPPROTO_NT_STATIC_NON_DOD};
  for (const DWORD protocol : readProtocols) {
    SCOPED_TRACE(protocol);
    CIpHelperStandIn helper;
    SetUpHome(helper, protocol);
    auto table = CreateWinForwardTable(helper);
    std::vector<ForwardRow> rows;
    ASSERT_EQ(table->ReadForwardTable(rows), 0u);
    const ForwardRow* defaultRoute = ChooseDefaultRoute(rows);
    ASSERT_NE(defaultRoute, nullptr);
    EXPECT_EQ(AddRoute(*table, L"198.51.100.9", L"255.255.255.255", *defaultRoute), 0u);
    ASSERT_EQ(helper.created.size(), 1u);
    EXPECT_EQ(helper.created[0].dwForwardProto, static_cast<DWORD>(MIB_IPPROTO_NETMGMT));
    EXPECT_EQ(helper.rows.size(), 3u);
  }
}

// What the stand-in refuses, so that a row the system would refuse fails
// here too.
TEST(WinForwardTableOverIpHelper, RowsTheSystemRefusesAreRefused) {
  struct Case {
    const char* name;
    MIB_IPFORWARDROW row;
    DWORD expected;
  } cases[] = {
      {"good", SystemRow(L"10.0.0.0", L"255.0.0.0", L"10.8.0.6", 7, MIB_IPPROTO_NETMGMT, 6), NO_ERROR},
      {"metric equal to the interface's",
       SystemRow(L"10.0.0.0", L"255.0.0.0", L"10.8.0.6", 7, MIB_IPPROTO_NETMGMT, 5), NO_ERROR},
      {"protocol of a local route", SystemRow(L"10.0.0.0", L"255.0.0.0", L"10.8.0.6", 7, MIB_IPPROTO_LOCAL, 6),
       ERROR_INVALID_PARAMETER},
      {"protocol of a learned default route",
       SystemRow(L"10.0.0.0", L"255.0.0.0", L"10.8.0.6", 7, MIB_IPPROTO_NT_AUTOSTATIC, 6), ERROR_INVALID_PARAMETER},
      {"mask with a hole", SystemRow(L"10.0.0.0", L"255.0.255.0", L"10.8.0.6", 7, MIB_IPPROTO_NETMGMT, 6),
       ERROR_INVALID_PARAMETER},
      {"host bits outside the mask", SystemRow(L"10.1.0.0", L"255.0.0.0", L"10.8.0.6", 7, MIB_IPPROTO_NETMGMT, 6),
       ERROR_INVALID_PARAMETER},
      {"metric below the interface's", SystemRow(L"10.0.0.0", L"255.0.0.0", L"10.8.0.6", 7, MIB_IPPROTO_NETMGMT, 4),
       ERROR_INVALID_PARAMETER},
      {"no such interface", SystemRow(L"10.0.0.0", L"255.0.0.0", L"10.8.0.6", 9, MIB_IPPROTO_NETMGMT, 6),
       ERROR_INVALID_PARAMETER},
      {"already there", SystemRow(L"192.168.1.0", L"255.255.255.0", L"192.168.1.10", 2, MIB_IPPROTO_NETMGMT, 281),
       ERROR_OBJECT_ALREADY_EXISTS},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    CIpHelperStandIn helper;
    SetUpHome(helper, MIB_IPPROTO_NETMGMT);
    EXPECT_EQ(helper.CreateIpForwardEntry(&c.row), c.expected);
    EXPECT_EQ(helper.rows.size(), c.expected == NO_ERROR ? 3u : 2u);
  }
}

// All traffic through the tunnel: the routes around and through it are
// copies of default routes as the system reported them.
TEST(WinForwardTableOverIpHelper, AllTrafficRoutesAreRowsTheSystemAccepts) {
  for (const DWORD protocol : {static_cast<DWORD>(MIB_IPPROTO_NETMGMT), static_cast<DWORD>(MIB_IPPROTO_NT_AUTOSTATIC),
                               static_cast<DWORD>(MIB_IPPROTO_LOCAL)}) {
    SCOPED_TRACE(protocol);
    CIpHelperStandIn helper;
    SetUpHome(helper, protocol);
    helper.rows.push_back(SystemRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.5", 7, protocol, 6));
    const std::vector<MIB_IPFORWARDROW> before = helper.rows;
    auto table = CreateWinForwardTable(helper);
    std::vector<ForwardRow> rows;
    ASSERT_EQ(table->ReadForwardTable(rows), 0u);
    CFakeRouteRequestServer server(*table);
    CRoutePlan plan(*table, server);
    RoutePlanInput input;
    input.routeMode = RouteModeDefaultGateway;
    input.defaultRoute = rows[0];
    input.vpnRoute = rows[2];
    input.routes = {L"172.16.0.0 mask 255.240.0.0", L"10.20.0.0/16"};
    input.proxyType = 1;
    input.proxyServer = L"198.51.100.9";
    const RoutePlanOutcome outcome = plan.Apply(input);
    EXPECT_EQ(outcome.error, 0);
    EXPECT_TRUE(outcome.failedRoutes.empty());
    EXPECT_EQ(plan.AddedRoutes(), 3u);
    ASSERT_EQ(helper.created.size(), 3u);
    for (const MIB_IPFORWARDROW& r : helper.created) {
      EXPECT_EQ(r.dwForwardProto, static_cast<DWORD>(MIB_IPPROTO_NETMGMT));
      const CIpHelperStandIn::Interface* on = helper.Find(r.dwForwardIfIndex);
      ASSERT_NE(on, nullptr);
      EXPECT_GE(r.dwForwardMetric1, on->metric);
    }
    EXPECT_EQ(helper.rows.size(), before.size() + 3);
    plan.Restore();
    EXPECT_EQ(helper.deleted.size(), 3u);
    ASSERT_EQ(helper.rows.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_TRUE(SameSystemRoute(helper.rows[i], before[i]));
  }
}

}  // namespace
