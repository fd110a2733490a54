// The journal against crashes: whatever was going on when the process died,
// replay leaves exactly the rows that are not ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

#include "fakes/fake_forward_table.h"
#include "fakes/temp_dir.h"
#include "fakes/test_vpn.h"
#include "routing/product_forward_table.h"
#include "routing/route_journal.h"
#include "text/text_table.h"

namespace {

ForwardRow Host(const wchar_t* address) { return MakeRow(address, L"255.255.255.255", L"10.8.0.6", 7, 6); }

using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>;
Key KeyOf(const ForwardRow& r) { return {r.destination, r.mask, r.nextHop, r.ifIndex}; }
std::set<Key> Keys(const std::vector<ForwardRow>& rows) {
  std::set<Key> keys;
  for (const ForwardRow& r : rows) keys.insert(KeyOf(r));
  return keys;
}

// A failed add of a row we already hold used to be written like a delete,
// and replay then left the live row in the table.
TEST(RouteJournalCrash, AFailedDuplicateAddDoesNotHideTheLiveRow) {
  CTempDir dir;
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const std::vector<ForwardRow> before = table.Rows();
  {
    CRouteJournal journal(dir.Path().wstring());
    CJournaledForwardTable journaled(table, journal);
    ASSERT_EQ(journaled.AddForwardRow(Host(L"10.8.0.1")), 0u);  // the DNS host route
    EXPECT_NE(journaled.AddForwardRow(Host(L"10.8.0.1")), 0u);  // the same, listed as a /32
  }  // crash
  CRouteJournal next(dir.Path().wstring());
  const RouteJournalReplay r = next.Replay(table);
  EXPECT_EQ(r.deleted, 1);
  EXPECT_EQ(table.Rows(), before);
}

// Forwards the first `budget` changes and then nothing: the process died.
class CDyingTable : public IForwardTable {
 public:
  CDyingTable(IForwardTable& inner, int budget) : inner_(inner), budget_(budget) {}
  std::uint32_t ReadForwardTable(std::vector<ForwardRow>& rows) override { return inner_.ReadForwardTable(rows); }
  std::uint32_t AddForwardRow(const ForwardRow& row) override {
    return budget_-- > 0 ? inner_.AddForwardRow(row) : 1;
  }
  std::uint32_t DeleteForwardRow(const ForwardRow& row) override {
    return budget_-- > 0 ? inner_.DeleteForwardRow(row) : 1;
  }
  std::uint32_t ListAdapters(std::vector<AdapterAddress>& a) override { return inner_.ListAdapters(a); }
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& m) override { return inner_.ReadInterfaceMetrics(m); }
  std::uint32_t ListAdapterDns(std::vector<AdapterDnsServers>& a) override { return inner_.ListAdapterDns(a); }
  bool Died() const { return budget_ < 0; }

 private:
  IForwardTable& inner_;
  int budget_;
};

// A connection in listed mode whose plan has duplicates, an entry equal to
// the DNS host route and a route that was already there, dying after each
// change of apply and restore in turn.
TEST(RouteJournalCrash, CrashAtEveryStepOfApplyAndRestore) {
  LoadTextTable();
  const ForwardRow theirs = MakeRow(L"172.16.0.0", L"255.240.0.0", L"10.8.0.6", 7, 6);
  for (int budget = 0;; ++budget) {
    SCOPED_TRACE(budget);
    CTempDir dir;
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    table.PutRow(theirs);
    const std::vector<ForwardRow> before = table.Rows();
    bool died;
    {
      CRouteJournal journal(dir.Path().wstring());
      CJournaledForwardTable journaled(table, journal);
      CDyingTable dying(journaled, budget);
      CTestVpn vpn(dying, std::make_unique<CFakeRouteRequestServer>(dying));
      vpn.SetRouteMode(RouteModeListedRoutes);
      vpn.SetRoutes({L"10.0.0.0/8", L"10.0.0.0 mask 255.0.0.0", L"10.8.0.1/32", L"172.16.0.0/12", L"192.0.2.0/24"});
      ASSERT_EQ(vpn.Start(), 0);
      vpn.Learn(L"10.8.0.6");
      vpn.SetVpnDns(L"10.8.0.1", nullptr);
      vpn.SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
      vpn.Stop();
      died = dying.Died();
    }
    CRouteJournal next(dir.Path().wstring());
    const RouteJournalReplay r = next.Replay(table);
    EXPECT_EQ(r.uncertain, 0);
    EXPECT_EQ(table.Rows(), before);
    EXPECT_TRUE(table.Has(theirs));
    if (!died) break;  // the whole run fitted the budget: every step was tried
  }
}

// The two moments inside one add: asked but not answered is kept (the add
// may have failed for a route someone else had); a delete done but not
// recorded finds the row already gone.
TEST(RouteJournalCrash, CrashInsideOneChange) {
  struct Case {
    const char* name;
    bool addDone;
    int uncertain;
    bool rowLeft;
  } cases[] = {
      {"before the system was asked", false, 1, false},
      {"after the system took it", true, 1, true},
  };
  for (const Case& c : cases) {
    CTempDir dir;
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    const std::size_t rows = table.CountRows();
    {
      CRouteJournal journal(dir.Path().wstring());
      journal.BeforeAdd(Host(L"1.1.1.1"));
      if (c.addDone) table.AddForwardRow(Host(L"1.1.1.1"));
    }
    CRouteJournal next(dir.Path().wstring());
    const RouteJournalReplay r = next.Replay(table);
    EXPECT_EQ(r.uncertain, c.uncertain) << c.name;
    EXPECT_EQ(table.CountRows(), rows + (c.rowLeft ? 1 : 0)) << c.name;
  }
  CTempDir dir;
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const std::vector<ForwardRow> before = table.Rows();
  {
    CRouteJournal journal(dir.Path().wstring());
    CJournaledForwardTable journaled(table, journal);
    ASSERT_EQ(journaled.AddForwardRow(Host(L"1.1.1.1")), 0u);
    ASSERT_EQ(table.DeleteForwardRow(Host(L"1.1.1.1")), 0u);  // deleted, the crash before "-"
  }
  CRouteJournal next(dir.Path().wstring());
  EXPECT_EQ(next.Replay(table).missing, 1);
  EXPECT_EQ(table.Rows(), before);
}

// Thousands of random lives: adds, duplicate adds, routes someone else adds,
// deletes, and crashes; after each crash replay leaves exactly the rows that
// are not ours.
TEST(RouteJournalCrash, RandomSequencesNeverLoseOrTakeARoute) {
  const std::vector<ForwardRow> pool = {Host(L"1.1.1.1"), Host(L"2.2.2.2"), Host(L"3.3.3.3"), Host(L"4.4.4.4"),
                                        Host(L"5.5.5.5")};
  std::mt19937 rng(20261209);
  int sequences = 0, crashes = 0;
  for (; sequences < 2000; ++sequences) {
    CTempDir dir;
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    std::set<Key> others = Keys(table.Rows());  // rows that are not ours
    std::set<Key> ours;
    auto journal = std::make_unique<CRouteJournal>(dir.Path().wstring());
    auto journaled = std::make_unique<CJournaledForwardTable>(table, *journal);
    const int steps = 5 + static_cast<int>(rng() % 40);
    for (int step = 0; step <= steps; ++step) {
      const ForwardRow& row = pool[rng() % pool.size()];
      const int op = step == steps ? 4 : static_cast<int>(rng() % 5);
      switch (op) {
        case 0:  // add, or a duplicate add of one we hold
        case 1:
          if (journaled->AddForwardRow(row) == 0) ours.insert(KeyOf(row));
          break;
        case 2:  // someone else adds a route
          if (!table.Has(row)) {
            table.PutRow(row);
            others.insert(KeyOf(row));
          }
          break;
        case 3:  // we delete one of ours
          if (ours.count(KeyOf(row)) && journaled->DeleteForwardRow(row) == 0) ours.erase(KeyOf(row));
          break;
        case 4: {  // crash, start again, replay
          journaled.reset();
          journal = std::make_unique<CRouteJournal>(dir.Path().wstring());
          journal->Replay(table);
          ++crashes;
          ASSERT_EQ(Keys(table.Rows()), others) << "sequence " << sequences << " step " << step;
          ours.clear();
          journaled = std::make_unique<CJournaledForwardTable>(table, *journal);
          break;
        }
      }
    }
  }
  EXPECT_GT(crashes, sequences);
}

// Connections and their route request servers change routes through the
// product's table unless a test hands them another: the journaled one.
TEST(RouteJournalWiring, TheProductTableIsJournaled) {
  EXPECT_NE(dynamic_cast<CJournaledForwardTable*>(&ProductForwardTable()), nullptr);
}

}  // namespace
