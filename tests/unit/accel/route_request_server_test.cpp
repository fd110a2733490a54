#include "accel/route_request_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "fakes/fake_forward_table.h"
#include "fakes/test_vpn.h"

namespace {

class RouteRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpHomeNetwork(table);
    baseline = table.CountRows();
    templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
    templ.type = kRouteTypeDirect;
    server = std::make_unique<CFakeRouteRequestServer>(table);
  }
  static std::vector<unsigned char> Request(unsigned char command, const wchar_t* address) {
    std::vector<unsigned char> bytes(5);
    bytes[0] = command;
    const std::uint32_t a = ParseIpv4(address);
    std::memcpy(bytes.data() + 1, &a, 4);
    return bytes;
  }
  ForwardRow Host(const wchar_t* address) const {
    ForwardRow row = templ;
    row.destination = ParseIpv4(address);
    row.mask = 0xFFFFFFFFu;
    return row;
  }

  CFakeForwardTable table;
  std::size_t baseline = 0;
  ForwardRow templ;
  std::unique_ptr<CFakeRouteRequestServer> server;
};

TEST_F(RouteRequests, AnswersOnlyWellFormedRequests) {
  ASSERT_TRUE(server->Start(templ));
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    unsigned char reply;
  } cases[] = {
      {"route", Request(1, L"93.184.216.34"), 1},
      {"same again", Request(1, L"93.184.216.34"), 1},
      {"second host", Request(1, L"1.1.1.1"), 1},
      {"command 2", Request(2, L"8.8.8.8"), 0},
      {"command 0", Request(0, L"8.8.8.8"), 0},
      {"address 0", Request(1, L"0.0.0.0"), 0},
      {"four bytes", {1, 8, 8, 8}, 0},
      {"six bytes", {1, 8, 8, 8, 8, 0}, 0},
      {"one byte", {1}, 0},
      {"existing route", Request(1, L"9.9.9.9"), 0},
  };
  // An identical row that someone else put there.
  table.PutRow(Host(L"9.9.9.9"));
  for (const Case& c : cases) EXPECT_EQ(server->Answer(c.bytes.data(), c.bytes.size()), c.reply) << c.name;
  server->Stop();
  // Its own two are gone; the one it did not add stays.
  EXPECT_EQ(table.CountRows(), baseline + 1);
  EXPECT_TRUE(table.Has(Host(L"9.9.9.9")));
  EXPECT_EQ(table.adds(), 2);
}

TEST_F(RouteRequests, ExpiryAfterSixMinutesUnlessKept) {
  std::atomic<Tick> now{0xFFFF0000u};  // across the wrap
  class CClockedServer : public CVpnRouteRequestBaseServer {
   public:
    CClockedServer(IForwardTable& t, std::atomic<Tick>& n) : CVpnRouteRequestBaseServer(t, [&n] { return n.load(); }) {}
    ~CClockedServer() override { Stop(); }

   protected:
    void Run() override {}
    void SignalStop() override {}
  } clocked(table, now);
  clocked.AddKeptRoute(L"10.8.0.1", L"255.255.255.255");
  ASSERT_TRUE(clocked.Start(templ));
  // Run returns at once; the thread's end is not a stop of the server.
  const Tick start = now;
  ASSERT_TRUE(clocked.AddRequestedRoute(ParseIpv4(L"1.1.1.1")));
  ASSERT_TRUE(clocked.AddRequestedRoute(ParseIpv4(L"2.2.2.2")));
  ASSERT_TRUE(clocked.AddRequestedRoute(ParseIpv4(L"10.8.0.1")));
  now = start + 1000;
  ASSERT_TRUE(clocked.AddRequestedRoute(ParseIpv4(L"2.2.2.2")));  // refreshed
  now = start + 359999;
  clocked.PurgeRoutes(CVpnRouteRequestBaseServer::kPurgeExpired);
  EXPECT_EQ(clocked.RequestedRoutes().size(), 3u);
  now = start + 360000;
  clocked.PurgeRoutes(CVpnRouteRequestBaseServer::kPurgeExpired);
  EXPECT_FALSE(table.Has(Host(L"1.1.1.1")));
  EXPECT_TRUE(table.Has(Host(L"2.2.2.2")));
  EXPECT_TRUE(table.Has(Host(L"10.8.0.1")));
  now = start + 361000;
  clocked.PurgeRoutes(CVpnRouteRequestBaseServer::kPurgeExpired);
  EXPECT_FALSE(table.Has(Host(L"2.2.2.2")));
  now = start + 100 * 360000;
  clocked.PurgeRoutes(CVpnRouteRequestBaseServer::kPurgeExpired);
  ASSERT_EQ(clocked.RequestedRoutes().size(), 1u);
  EXPECT_TRUE(table.Has(Host(L"10.8.0.1")));
  clocked.Stop();
  EXPECT_TRUE(clocked.RequestedRoutes().empty());
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_F(RouteRequests, StartsOnceAndAgainAfterStop) {
  ASSERT_TRUE(server->Start(templ));
  EXPECT_FALSE(server->Start(templ));
  EXPECT_EQ(server->starts, 1);
  server->Stop();
  server->Stop();
  EXPECT_TRUE(server->Start(templ));
  server->Stop();
  CFakeRouteRequestServer failing(table, true);
  EXPECT_FALSE(failing.Start(templ));
  EXPECT_FALSE(failing.IsRunning());
}

}  // namespace
