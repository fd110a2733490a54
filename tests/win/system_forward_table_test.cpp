// The system's forwarding table and adapters under Wine: reads work, the
// stubbed changes are not tried here.
#include <gtest/gtest.h>

#include <vector>

#include "platform/win32.h"
#include "routing/route_table.h"

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

}  // namespace
