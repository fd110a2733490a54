#include "app/app_routing.h"

#include <gtest/gtest.h>

#include "fakes/fake_forward_table.h"
#include "fakes/temp_dir.h"

namespace {

// The machine's table outlives each run of the client.
class CBorrowedTable : public IForwardTable {
 public:
  explicit CBorrowedTable(IForwardTable& t) : t_(t) {}
  std::uint32_t ReadForwardTable(std::vector<ForwardRow>& rows) override { return t_.ReadForwardTable(rows); }
  std::uint32_t AddForwardRow(const ForwardRow& row) override { return t_.AddForwardRow(row); }
  std::uint32_t DeleteForwardRow(const ForwardRow& row) override { return t_.DeleteForwardRow(row); }
  std::uint32_t ListAdapters(std::vector<AdapterAddress>& a) override { return t_.ListAdapters(a); }
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& m) override { return t_.ReadInterfaceMetrics(m); }
  std::uint32_t ListAdapterDns(std::vector<AdapterDnsServers>& a) override { return t_.ListAdapterDns(a); }

 private:
  IForwardTable& t_;
};

TEST(AppRouting, StartUpRemovesWhatACrashedRunLeftAndOnlyOnce) {
  CTempDir dir;
  CFakeForwardTable machine;
  SetUpHomeNetwork(machine);
  const std::size_t home = machine.CountRows();
  const ForwardRow left = MakeRow(L"1.1.1.1", L"255.255.255.255", L"10.8.0.6", 7, 6);
  const ForwardRow fresh = MakeRow(L"2.2.2.2", L"255.255.255.255", L"10.8.0.6", 7, 6);
  {
    CAppRouting crashed(std::make_unique<CBorrowedTable>(machine), dir.Path().wstring());
    ASSERT_EQ(crashed.Table().AddForwardRow(left), 0u);
  }  // no restore: the process died
  ASSERT_TRUE(machine.Has(left));

  CAppRouting next(std::make_unique<CBorrowedTable>(machine), dir.Path().wstring());
  EXPECT_EQ(next.ReplayAtStart().deleted, 1);
  EXPECT_FALSE(machine.Has(left));
  EXPECT_EQ(machine.CountRows(), home);
  // Routes of this run are journaled, and a second replay never takes them.
  ASSERT_EQ(next.Table().AddForwardRow(fresh), 0u);
  EXPECT_EQ(next.ReplayAtStart().deleted, 0);
  EXPECT_TRUE(machine.Has(fresh));
  ASSERT_EQ(next.Table().DeleteForwardRow(fresh), 0u);
  EXPECT_EQ(machine.CountRows(), home);
}

}  // namespace
