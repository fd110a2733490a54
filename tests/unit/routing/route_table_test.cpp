#include "routing/route_table.h"

#include <gtest/gtest.h>

#include "fakes/fake_forward_table.h"

namespace {

TEST(Ipv4Text, MasksAndPrefixLengths) {
  struct Case {
    const wchar_t* mask;
    int length;
  } cases[] = {{L"0.0.0.0", 0},         {L"128.0.0.0", 1},        {L"255.0.0.0", 8},
               {L"255.255.255.0", 24}, {L"255.255.255.255", 32}, {L"255.0.255.0", -1},
               {L"0.255.255.255", -1}, {L"255.255.255.254", 31}};
  for (const Case& c : cases) {
    EXPECT_EQ(MaskToPrefixLength(ParseIpv4(c.mask)), c.length) << c.mask;
    if (c.length >= 0) {
      EXPECT_EQ(FormatIpv4(PrefixLengthToMask(c.length)), c.mask);
    }
  }
}

TEST(DefaultRoute, LowestMetricWinsAndTheFirstOnATie) {
  const ForwardRow a = MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, 20);
  const ForwardRow b = MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.2.1", 3, 10);
  const ForwardRow c = MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.3.1", 4, 10);
  const ForwardRow net = MakeRow(L"10.0.0.0", L"255.0.0.0", L"192.168.1.1", 2, 1);
  const ForwardRow halfDefault = MakeRow(L"0.0.0.0", L"128.0.0.0", L"10.8.0.1", 7, 1);
  struct Case {
    std::vector<ForwardRow> rows;
    const ForwardRow* expected;
  } cases[] = {
      {{a, b}, &b}, {{b, c}, &b}, {{c, b}, &c}, {{net, a}, &a}, {{net, halfDefault}, nullptr}, {{}, nullptr},
  };
  for (const Case& t : cases) {
    const ForwardRow* chosen = ChooseDefaultRoute(t.rows);
    if (!t.expected) {
      EXPECT_EQ(chosen, nullptr);
    } else {
      ASSERT_NE(chosen, nullptr);
      EXPECT_EQ(*chosen, *t.expected);
    }
  }
}

TEST(RouteOperations, AddCopiesTheTemplateAndDeleteFindsItAgain) {
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  ForwardRow templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
  templ.type = kRouteTypeDirect;
  ASSERT_EQ(AddRoute(table, L"172.16.0.0", L"255.240.0.0", templ), 0u);
  ForwardRow expected = templ;
  expected.destination = ParseIpv4(L"172.16.0.0");
  expected.mask = ParseIpv4(L"255.240.0.0");
  EXPECT_EQ(table.Rows().back(), expected);
  EXPECT_EQ(AddRoute(table, L"172.16.0.0", L"255.240.0.0", templ), CFakeForwardTable::kErrorAlreadyExists);
  EXPECT_EQ(DeleteRoute(table, L"172.16.0.0", L"255.240.0.0", templ), 0u);
  EXPECT_FALSE(table.Has(expected));
}

TEST(RouteOperations, RefusesWhatIsNoAddressAndNeverDeletesTheDefaultRoute) {
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const ForwardRow templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"192.168.1.1", 2, 26);
  const std::size_t before = table.CountRows();
  struct Case {
    const wchar_t* destination;
    const wchar_t* mask;
  } refused[] = {{L"proxy.example.com", L"255.255.255.255"}, {L"10.0.0.0", L"mask"}, {L"\x01\x02", L"255.0.0.0"}};
  for (const Case& c : refused) {
    EXPECT_EQ(AddRoute(table, c.destination, c.mask, templ), kErrorInvalidAddress) << c.destination;
    EXPECT_EQ(DeleteRoute(table, c.destination, c.mask, templ), kErrorInvalidAddress) << c.destination;
  }
  // The table's own refusals come back unchanged.
  EXPECT_EQ(AddRoute(table, L"10.0.0.0", L"255.0.255.0", templ), CFakeForwardTable::kErrorInvalidParameter);
  EXPECT_EQ(AddRoute(table, L"10.0.0.1", L"255.0.0.0", templ), CFakeForwardTable::kErrorInvalidParameter);
  EXPECT_EQ(DeleteRoute(table, L"0.0.0.0", L"0.0.0.0", table.Rows()[0]), 0u);
  EXPECT_EQ(DeleteRoute(table, L"10.0.0.0", L"0.0.0.0", templ), 0u);
  EXPECT_EQ(DeleteRoute(table, L"0.0.0.0", L"255.0.0.0", templ), 0u);
  EXPECT_EQ(table.CountRows(), before);
  EXPECT_EQ(table.deletes(), 0);
}

TEST(RouteOperations, MakeVpnRouteFindsTheAdapterByItsFirstAddress) {
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  table.AddAdapter(9, L"10.8.0.6");  // the last match wins
  ForwardRow row = MakeRow(L"1.2.3.4", L"255.255.255.255", L"9.9.9.9", 42, 77);
  ASSERT_EQ(MakeVpnRoute(table, row, L"10.8.0.6"), 0u);
  EXPECT_EQ(row.ifIndex, 9u);
  EXPECT_EQ(row.destination, 0u);
  EXPECT_EQ(row.mask, 0u);
  EXPECT_EQ(row.nextHop, ParseIpv4(L"10.8.0.6"));
  EXPECT_EQ(row.type, kRouteTypeDirect);
  EXPECT_EQ(row.protocol, kRouteProtocolNetMgmt);
  EXPECT_EQ(row.age, 0u);
  EXPECT_EQ(row.metric1, 77u);  // left for SetRouteMetric
  EXPECT_EQ(row.metric5, kMetricUnused);

  ForwardRow orphan = MakeRow(L"1.2.3.4", L"255.255.255.255", L"9.9.9.9", 42, 77);
  ASSERT_EQ(MakeVpnRoute(table, orphan, L"10.99.0.1"), 0u);
  EXPECT_EQ(orphan.ifIndex, 42u);
  EXPECT_NE(AddRoute(table, L"10.0.0.0", L"255.0.0.0", orphan), 0u);

  table.adaptersStatus = 232;
  EXPECT_EQ(MakeVpnRoute(table, orphan, L"10.8.0.6"), 232u);
}

TEST(RouteOperations, MetricIsTheInterfaceMetricPlusOne) {
  struct Case {
    bool available;
    std::uint32_t ifIndex;
    std::uint32_t before;
    std::uint32_t after;
  } cases[] = {
      {true, 2, 0, 26},   // interface metric 25
      {true, 7, 0, 6},    // interface metric 5
      {true, 44, 9, 9},   // not in the table: unchanged
      {false, 2, 9, 1},   // no per-interface table
  };
  for (const Case& c : cases) {
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    table.metricsAvailable = c.available;
    ForwardRow row;
    row.ifIndex = c.ifIndex;
    row.metric1 = c.before;
    SetRouteMetric(table, row);
    EXPECT_EQ(row.metric1, c.after) << c.ifIndex;
  }
}

TEST(RouteOperations, AdapterDnsIsIpv4OnlyAndMatchesTheNameExactly) {
  CFakeForwardTable table;
  const DnsServerAddress v4a{true, ParseIpv4(L"10.8.0.1")}, v4b{true, ParseIpv4(L"8.8.4.4")}, v6{false, 0};
  table.dns = {{L"Ethernet", {v4b}}, {L"Quillnet VPN", {v4a}}, {L"Six first", {v6, v4a}},
               {L"Two", {v4a, v4b, v4b}}, {L"Two", {v4b}}};
  struct Case {
    const wchar_t* name;
    const wchar_t* dns1;
    const wchar_t* dns2;
  } cases[] = {{L"Quillnet VPN", L"10.8.0.1", L""}, {L"quillnet vpn", L"", L""}, {L"Six first", L"", L"10.8.0.1"},
               {L"Two", L"10.8.0.1", L"8.8.4.4"},     {L"Missing", L"", L""}};
  for (const Case& c : cases) {
    const AdapterDnsResult r = GetAdapterDns(table, c.name);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.dns1, c.dns1) << c.name;
    EXPECT_EQ(r.dns2, c.dns2) << c.name;
  }
  table.dnsStatus = 1;
  const AdapterDnsResult missing = GetAdapterDns(table, L"Quillnet VPN");
  EXPECT_EQ(missing.status, 1u);
  EXPECT_TRUE(missing.dns1.empty());
}

}  // namespace
