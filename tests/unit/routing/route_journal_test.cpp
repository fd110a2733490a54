#include "routing/route_journal.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fakes/fake_forward_table.h"
#include "fakes/temp_dir.h"
#include "platform/file_io.h"

namespace {

class RouteJournal : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpHomeNetwork(table);
    before = table.Rows();
  }
  ForwardRow Route(const wchar_t* destination, const wchar_t* mask = L"255.255.255.255") {
    return MakeRow(destination, mask, L"10.8.0.6", 7, 6);
  }
  std::string Line(char op, const ForwardRow& r) {
    return std::string(1, op) + " " + std::to_string(r.destination) + " " + std::to_string(r.mask) + " " +
           std::to_string(r.nextHop) + " " + std::to_string(r.ifIndex) + " " + std::to_string(r.metric1) + "\n";
  }
  CTempDir dir;
  CFakeForwardTable table;
  std::vector<ForwardRow> before;
};

TEST_F(RouteJournal, ReplayDeletesOnlyWhatWeAddedAndIsStillThere) {
  const ForwardRow theirs = Route(L"9.9.9.9");
  table.PutRow(theirs);
  {
    CRouteJournal journal(dir.Path().wstring());
    CJournaledForwardTable journaled(table, journal);
    ASSERT_EQ(journaled.AddForwardRow(Route(L"1.1.1.1")), 0u);
    ASSERT_EQ(journaled.AddForwardRow(Route(L"2.2.2.2")), 0u);
    ASSERT_EQ(journaled.AddForwardRow(Route(L"10.0.0.0", L"255.0.0.0")), 0u);
    EXPECT_NE(journaled.AddForwardRow(theirs), 0u);  // already there: not ours
    ASSERT_EQ(journaled.DeleteForwardRow(Route(L"2.2.2.2")), 0u);
    // Someone else takes one of ours away while we are down.
    ASSERT_EQ(table.DeleteForwardRow(Route(L"1.1.1.1")), 0u);
  }  // the process dies here, nothing restored
  CRouteJournal next(dir.Path().wstring());
  const RouteJournalReplay r = next.Replay(table);
  EXPECT_EQ(r.deleted, 1);
  EXPECT_EQ(r.missing, 1);
  EXPECT_EQ(r.uncertain, 0);
  EXPECT_FALSE(r.otherBoot);
  EXPECT_FALSE(table.Has(Route(L"10.0.0.0", L"255.0.0.0")));
  EXPECT_TRUE(table.Has(theirs));
  EXPECT_EQ(table.CountRows(), before.size() + 1);
  EXPECT_FALSE(FileExists(next.Path()));
  // A second replay finds nothing to do.
  EXPECT_EQ(next.Replay(table).deleted, 0);
}

TEST_F(RouteJournal, RecordsThatCannotBeTrustedLeaveTheTableAlone) {
  const ForwardRow a = Route(L"1.1.1.1"), b = Route(L"2.2.2.2");
  table.PutRow(a);
  table.PutRow(b);
  const std::string boot = "boot " + CurrentBootId() + "\n";
  struct Case {
    const char* name;
    std::string file;
    int deleted;
    int uncertain;
    bool otherBoot;
  } cases[] = {
      // Crashed between asking for the route and hearing back.
      {"in flight", boot + Line('+', a), 0, 1, false},
      {"torn last line", boot + Line('+', a) + Line('=', a) + "= 12 3", 1, 0, false},
      {"garbage", boot + "\x01\x02zz\n= x y z\n" + Line('+', b) + Line('=', b), 1, 0, false},
      {"earlier boot", "boot not-this-boot\n" + Line('+', a) + Line('=', a), 0, 0, !CurrentBootId().empty()},
  };
  for (const Case& c : cases) {
    CFakeForwardTable t;
    SetUpHomeNetwork(t);
    t.PutRow(a);
    t.PutRow(b);
    CRouteJournal journal(dir.Path().wstring());
    ASSERT_TRUE(AtomicWriteFile(journal.Path(), c.file));
    const RouteJournalReplay r = journal.Replay(t);
    EXPECT_EQ(r.deleted, c.otherBoot ? 0 : c.deleted) << c.name;
    EXPECT_EQ(r.uncertain, c.uncertain) << c.name;
    EXPECT_EQ(r.otherBoot, c.otherBoot) << c.name;
    EXPECT_EQ(t.CountRows(), before.size() + 2 - r.deleted) << c.name;
    EXPECT_FALSE(FileExists(journal.Path())) << c.name;
  }
}

TEST_F(RouteJournal, AnUnreadableTableKeepsTheRecordForNextTime) {
  const ForwardRow a = Route(L"1.1.1.1");
  {
    CRouteJournal journal(dir.Path().wstring());
    CJournaledForwardTable journaled(table, journal);
    ASSERT_EQ(journaled.AddForwardRow(a), 0u);
  }
  CRouteJournal journal(dir.Path().wstring());
  table.readStatus = 5;
  EXPECT_EQ(journal.Replay(table).deleted, 0);
  EXPECT_TRUE(FileExists(journal.Path()));
  table.readStatus = 0;
  EXPECT_EQ(journal.Replay(table).deleted, 1);
  EXPECT_EQ(table.Rows(), before);
}

TEST_F(RouteJournal, StaysSmallAcrossManyConnections) {
  CRouteJournal journal(dir.Path().wstring());
  journal.Replay(table);
  CJournaledForwardTable journaled(table, journal);
  for (int round = 0; round < 50; ++round) {
    for (const wchar_t* host : {L"1.1.1.1", L"2.2.2.2", L"3.3.3.3"}) ASSERT_EQ(journaled.AddForwardRow(Route(host)), 0u);
    for (const wchar_t* host : {L"1.1.1.1", L"2.2.2.2", L"3.3.3.3"})
      ASSERT_EQ(journaled.DeleteForwardRow(Route(host)), 0u);
  }
  std::error_code ignored;
  EXPECT_LT(std::filesystem::file_size(std::filesystem::path(journal.Path()), ignored), 400u);
  EXPECT_EQ(table.Rows(), before);
}

TEST(BootIdentity, ToleratesTheWobbleOfAComputedBootTime) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {{"", "x", true},         {"x", "", true},           {"abc", "abc", true}, {"abc", "abd", false},
               {"1000", "1090", true},  {"1000", "1121", false},   {"1000", "880", true}, {"1000x", "1000", false}};
  for (const Case& c : cases) EXPECT_EQ(SameBoot(c.a, c.b), c.same) << c.a << " " << c.b;
}

}  // namespace
