#include "servers/server_columns.h"

#include <gtest/gtest.h>

#include <cmath>

#include "text/text_table.h"

namespace {

class ServerColumns : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
};

VpnServerInfo Results(std::int32_t icmp, std::int32_t udp) {
  VpnServerInfo s;
  s.icmpResult = icmp;
  s.udpResult = udp;
  return s;
}

TEST_F(ServerColumns, SpeedSummary) {
  struct Case {
    std::int32_t icmp, udp;
    std::wstring text;
  } cases[] = {
      {30, 20, L"20 ms"},     {30, -1, L"30 ms"},      {-2, 0, L"0 ms"},      {-3, 999, L"999 ms"},
      {-1, -1, L"Timeout"},   {-2, -3, L"Test..."},    {-1, -2, L"Test..."},  {-2, -2, L"Test..."},
      {-3, -3, L"(N/A)"},     {-1, -3, L"Unknown"},    {-3, -1, L"Unknown"},  {1500, 1200, L"1200 ms"},
  };
  for (const Case& c : cases) EXPECT_EQ(SpeedSummary(Results(c.icmp, c.udp)), c.text) << c.icmp << "," << c.udp;
}

TEST_F(ServerColumns, SpeedCellIconAndAlignment) {
  struct Case {
    std::wstring text, image;
    CellAlign align;
  } cases[] = {
      {L"0 ms", L"IconSpeedTestGood", CellAlign::Right},      {L"100 ms", L"IconSpeedTestGood", CellAlign::Right},
      {L"101 ms", L"IconSpeedTestNormal", CellAlign::Right},  {L"500 ms", L"IconSpeedTestNormal", CellAlign::Right},
      {L"501 ms", L"IconSpeedTestBad", CellAlign::Right},     {L"99999999999 ms", L"IconSpeedTestBad", CellAlign::Right},
      {L"Timeout", L"IconSpeedTestTimeout", CellAlign::Left}, {L"Unknown", L"IconSpeedTestTesting", CellAlign::Left},
      {L"Test...", L"IconSpeedTestTesting", CellAlign::Left}, {L"(N/A)", L"IconSpeedTestTesting", CellAlign::Left},
  };
  for (const Case& c : cases) {
    const SpeedCellLook look = LookOfSpeedCell(c.text);
    EXPECT_EQ(look.image, c.image) << c.text;
    EXPECT_EQ(look.align, c.align) << c.text;
  }
}

TEST_F(ServerColumns, LoadText) {
  struct Case {
    double load;
    std::wstring text;
  } cases[] = {
      {0.25, L" 25%"}, {0.0, L"  0%"}, {0.999, L" 99%"}, {1.0, L"100%"}, {35.0, L"3500%"},
      {-0.5, L"-50%"}, {HUGE_VAL, L"2147483647%"}, {-HUGE_VAL, L"-2147483648%"}, {NAN, L"  0%"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadText(c.load), c.text) << c.load;
}

TEST_F(ServerColumns, SpeedComparison) {
  struct Case {
    std::wstring a, b;
    int direction, expected;
  } cases[] = {
      {L"20 ms", L"20 ms", 1, 0},      {L"9 ms", L"10 ms", 1, -1},       {L"9 ms", L"10 ms", -1, 1},
      {L"10 ms", L"9 ms", 1, 1},       {L"5 ms", L"Timeout", 1, -1},     {L"Timeout", L"5 ms", 1, 1},
      {L"Timeout", L"5 ms", -1, -1},   {L"Test...", L"Unknown", 1, -1},  {L"Unknown", L"Test...", 1, 1},
      {L"Unknown", L"(N/A)", 1, -1},   {L"(N/A)", L"Timeout", 1, -1},    {L"Timeout", L"(N/A)", -1, -1},
      {L"odd", L"other", 1, 0},        {L"odd", L"Timeout", 1, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CompareSpeedTexts(c.a, c.b, c.direction), c.expected) << c.a << " vs " << c.b << " d=" << c.direction;
}

TEST_F(ServerColumns, ColumnComparisons) {
  VpnServerInfo a, b;
  a.title = L"alpha";
  b.title = L"BETA";
  a.comment = L"same";
  b.comment = L"SAME";
  a.load = 0.1;
  b.load = 0.1;
  EXPECT_LT(CompareServerColumn(a, b, 0, 1), 0);
  EXPECT_GT(CompareServerColumn(a, b, 0, -1), 0);
  EXPECT_EQ(CompareServerColumn(a, b, 1, 1), 0);
  // Equal loads compare as "greater" either way round.
  EXPECT_EQ(CompareServerColumn(a, b, 3, 1), 1);
  EXPECT_EQ(CompareServerColumn(b, a, 3, 1), 1);
  b.load = 0.2;
  EXPECT_EQ(CompareServerColumn(a, b, 3, 1), -1);
  EXPECT_EQ(CompareServerColumn(a, b, 3, -1), 1);
  a.icmpResult = 40;
  b.udpResult = kSpeedTimeout;
  EXPECT_EQ(CompareServerColumn(a, b, 2, 1), -1);
}

TEST_F(ServerColumns, SortingByEveryColumnAndDirection) {
  VpnServerMap servers;
  auto add = [&](std::int32_t id, const wchar_t* title, double load, std::int32_t icmp, std::int32_t udp) {
    VpnServerInfo& s = servers[id];
    s.id = id;
    s.title = title;
    s.load = load;
    s.icmpResult = icmp;
    s.udpResult = udp;
  };
  add(1, L"delta", 0.5, 300, -1);
  add(2, L"Alpha", 0.5, -1, -1);
  add(3, L"charlie", 0.1, -2, -3);
  add(4, L"bravo", 0.5, 12, 15);
  add(5, L"echo", 0.9, -3, -3);
  struct Case {
    int column, direction;
    std::vector<std::int32_t> order;
  } cases[] = {
      {0, 1, {2, 4, 3, 1, 5}},
      {0, -1, {5, 1, 3, 4, 2}},
      {2, 1, {4, 1, 3, 5, 2}},
      {2, -1, {2, 5, 3, 1, 4}},
      // Equal loads keep their previous (ascending id) order both ways.
      {3, 1, {3, 1, 2, 4, 5}},
      {3, -1, {5, 1, 2, 4, 3}},
  };
  for (const Case& c : cases) {
    std::vector<std::int32_t> ids = {1, 2, 3, 4, 5};
    SortServerIds(ids, servers, c.column, c.direction);
    EXPECT_EQ(ids, c.order) << "column " << c.column << " direction " << c.direction;
  }
}

// The speed sort works each text's class out once; it must order exactly as
// comparing the texts themselves does, ties and all.
TEST_F(ServerColumns, SpeedSortOrdersAsTheTextComparison) {
  const std::int32_t results[] = {kSpeedToBeTested, kSpeedTesting, kSpeedTimeout, 0, 7, 25, 25, 100, 101, 999, 4000};
  VpnServerMap servers;
  std::vector<std::int32_t> ids;
  std::uint32_t seed = 12345;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (std::int32_t id = 1; id <= 300; ++id) {
    VpnServerInfo& s = servers[id];
    s.id = id;
    s.icmpResult = results[next() % std::size(results)];
    s.udpResult = results[next() % std::size(results)];
    ids.push_back(id);
  }
  for (int direction : {1, -1}) {
    std::vector<std::int32_t> expected = ids, sorted = ids;
    std::stable_sort(expected.begin(), expected.end(), [&](std::int32_t x, std::int32_t y) {
      const std::wstring a = SpeedSummary(servers.at(x)), b = SpeedSummary(servers.at(y));
      return CompareSpeedTexts(a, b, direction) < 0 && CompareSpeedTexts(b, a, direction) >= 0;
    });
    SortServerIds(sorted, servers, 2, direction);
    EXPECT_EQ(sorted, expected) << "direction " << direction;
  }
}

TEST_F(ServerColumns, SortingManyEqualLoadsDescendingStaysInBounds) {
  // A comparator that says "less" both ways would let an unchecked sort run
  // off the end; this must simply keep the order.
  VpnServerMap servers;
  std::vector<std::int32_t> ids;
  for (std::int32_t id = 1; id <= 200; ++id) {
    servers[id].id = id;
    servers[id].load = 0.5;
    ids.push_back(id);
  }
  const std::vector<std::int32_t> before = ids;
  SortServerIds(ids, servers, 3, -1);
  EXPECT_EQ(ids, before);
}

}  // namespace
