// The route request server with real clients over the platform's transport
// (a named pipe under Wine, a Unix socket on Linux): one suite for both,
// which says where the transports differ. Routes go into the in-memory
// table, so no root is needed and Wine's stubbed route calls do not matter.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "accel/route_request_server.h"
#include "fakes/fake_forward_table.h"
#include "fakes/route_request_bytes.h"
#include "fakes/route_request_client.h"
#include "fakes/route_request_destinations.h"

namespace {

class RouteRequestTransportTest : public ::testing::TestWithParam<RouteRequestTransport> {
 protected:
  void SetUp() override {
    SetUpHomeNetwork(table);
    baseline = table.CountRows();
    templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
    endpoint = FreshRouteRequestEndpoint();
    server = CreateRouteRequestServer(table, endpoint, [this] { return now.load(); });
  }
  void TearDown() override { server.reset(); }

  bool Host(std::uint32_t a) const {
    ForwardRow r = templ;
    r.destination = a;
    r.mask = 0xFFFFFFFFu;
    return table.Has(r);
  }

  std::atomic<Tick> now{5000};
  CFakeForwardTable table;
  std::size_t baseline = 0;
  ForwardRow templ;
  std::wstring endpoint;
  std::unique_ptr<CVpnRouteRequestBaseServer> server;
};

TEST_P(RouteRequestTransportTest, AnswersInOrderAndMalformedRequestsGetZero) {
  ASSERT_TRUE(server->Start(templ));
  EXPECT_FALSE(server->Start(templ));
  CTestRouteClient client(endpoint);
  ASSERT_TRUE(client.Connected()) << client.LastError();
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    int reply;
  } cases[] = {
      {"route", Request(Address(93, 184, 216, 34)), 1},
      {"again", Request(Address(93, 184, 216, 34)), 1},
      {"four bytes", {1, 2, 3, 4}, 0},
      {"six bytes", {1, 2, 3, 4, 5, 6}, 0},
      {"command 2", Request(Address(8, 8, 8, 8), 2), 0},
      {"command 0", Request(Address(8, 8, 8, 8), 0), 0},
      {"address 0", Request(0), 0},
      {"a full buffer", std::vector<unsigned char>(4096, 1), 0},
      {"another", Request(Address(8, 8, 8, 8)), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(client.Ask(c.bytes), c.reply) << c.what;
  for (std::size_t length = 1; length <= 64; ++length) {
    if (length == 5) continue;
    EXPECT_EQ(client.Ask(std::vector<unsigned char>(length, 1)), 0) << length << " bytes";
  }
  EXPECT_EQ(table.CountRows(), baseline + 2);
  // A route someone else made is refused and never deleted by us.
  ForwardRow theirs = templ;
  theirs.destination = Address(9, 9, 9, 9);
  theirs.mask = 0xFFFFFFFFu;
  table.PutRow(theirs);
  EXPECT_EQ(client.Ask(Request(Address(9, 9, 9, 9))), 0);
  client.Close();
  server->Stop();
  EXPECT_TRUE(table.Has(theirs));
  EXPECT_EQ(table.CountRows(), baseline + 1);
}

TEST_P(RouteRequestTransportTest, RefusedDestinationsGetZeroAndAddNothing) {
  server->SetDestinationPolicy(HomeNetworkPolicy(table));
  ASSERT_TRUE(server->Start(templ));
  CTestRouteClient client(endpoint);
  ASSERT_TRUE(client.Connected()) << client.LastError();
  std::size_t routed = 0;
  for (const DestinationCase& c : HomeNetworkDestinations()) {
    EXPECT_EQ(client.Ask(Request(c.address)), c.routed ? 1 : 0) << c.what;
    EXPECT_EQ(Host(c.address), c.routed) << c.what;
    routed += c.routed;
  }
  EXPECT_EQ(table.CountRows(), baseline + routed);
  client.Close();
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_P(RouteRequestTransportTest, ManyClientsManyRequestsEach) {
  ASSERT_TRUE(server->Start(templ));
  constexpr int kClients = 40, kEach = 150;
  std::atomic<int> ones{0}, others{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c)
    threads.emplace_back([&, c] {
      CTestRouteClient client(endpoint);
      if (!client.Connected()) {
        others += kEach;
        return;
      }
      for (int i = 0; i < kEach; ++i) {
        // Every address twice: added, then refreshed.
        const int reply = client.Ask(Request(Address(100, c, i / 2, 1)));
        (reply == 1 ? ones : others)++;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ones.load(), kClients * kEach);
  EXPECT_EQ(others.load(), 0);
  EXPECT_EQ(table.CountRows(), baseline + kClients * kEach / 2);
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_P(RouteRequestTransportTest, OversizedMessagesEndTheConnectionOnly) {
  ASSERT_TRUE(server->Start(templ));
  for (std::size_t size : {std::size_t{4097}, std::size_t{5000}, std::size_t{20000}}) {
    CTestRouteClient big(endpoint);
    ASSERT_TRUE(big.Connected()) << big.LastError();
    big.Send(std::vector<unsigned char>(size, 1));
    EXPECT_EQ(big.Reply(), -1) << size;
  }
  CTestRouteClient after(endpoint);
  EXPECT_EQ(after.Ask(Request(Address(8, 8, 4, 4))), 1);
}

TEST_P(RouteRequestTransportTest, SilentAndVanishingClientsDoNotHoldOthersUp) {
  ASSERT_TRUE(server->Start(templ));
  CTestRouteClient silent(endpoint);
  ASSERT_TRUE(silent.Connected()) << silent.LastError();
  for (int i = 0; i < 5; ++i) {
    CTestRouteClient leaving(endpoint);
    ASSERT_TRUE(leaving.Send(Request(Address(20, 0, 0, i + 1)))) << i;
    leaving.Close();  // gone before the reply
  }
  CTestRouteClient client(endpoint);
  ASSERT_TRUE(client.Connected()) << client.LastError();
  EXPECT_EQ(client.Ask(Request(Address(20, 0, 0, 9))), 1);
  server->Stop();  // returns with the silent client still connected
  EXPECT_EQ(table.CountRows(), baseline);
  EXPECT_EQ(silent.Reply(1000), -1);
}

// Clients that connect and leave at once, many at a time: one may come and
// go before the server listens on a fresh instance, and the server must
// still listen afterwards.
TEST_P(RouteRequestTransportTest, ClientsVanishingInBurstsLeaveTheServerListening) {
  ASSERT_TRUE(server->Start(templ));
  std::vector<std::thread> threads;
  std::atomic<int> connected{0};
  std::atomic<bool> refused{false};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 150 && !refused; ++i) {
        CTestRouteClient leaving(endpoint);
        if (leaving.Connected()) ++connected;
        else refused = true;  // a deaf server: no use waiting for it 600 times
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(connected.load(), 600);
  CTestRouteClient client(endpoint);
  ASSERT_TRUE(client.Connected()) << client.LastError();
  EXPECT_EQ(client.Ask(Request(Address(21, 0, 0, 1))), 1);
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_P(RouteRequestTransportTest, MoreClientsThanInstances) {
  ASSERT_TRUE(server->Start(templ));
  std::vector<std::unique_ptr<CTestRouteClient>> clients;
  for (int i = 0; i < kRouteRequestMaxInstances; ++i) {
    clients.push_back(std::make_unique<CTestRouteClient>(endpoint));
    ASSERT_EQ(clients.back()->Ask(Request(Address(30, 0, 0, i + 1))), 1) << i;
  }
  if (GetParam().clientsQueue) {
    // Later clients wait their turn in the listen queue.
    std::vector<std::unique_ptr<CTestRouteClient>> waiting;
    for (int i = 0; i < 8; ++i) {
      waiting.push_back(std::make_unique<CTestRouteClient>(endpoint));
      ASSERT_TRUE(waiting.back()->Connected());
      ASSERT_TRUE(waiting.back()->Send(Request(Address(31, 0, 0, i + 1))));
    }
    EXPECT_EQ(waiting[0]->Reply(300), -2);  // no free instance yet
    for (int i = 0; i < 8; ++i) clients[i]->Close();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(waiting[i]->Reply(), 1) << i;
  } else {
    // A later client finds the endpoint busy until an instance is free.
    CTestRouteClient refused(endpoint, 300);
    EXPECT_FALSE(refused.Connected());
    clients[0]->Close();
    CTestRouteClient next(endpoint);
    ASSERT_TRUE(next.Connected()) << next.LastError();
    EXPECT_EQ(next.Ask(Request(Address(31, 0, 0, 1))), 1);
  }
  clients.clear();
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_P(RouteRequestTransportTest, UnrequestedRoutesExpireAfterSixMinutesUnlessKept) {
  server->AddKeptRoute(L"10.8.0.1", L"255.255.255.255");
  ASSERT_TRUE(server->Start(templ));
  const Tick start = now = 0xFFFFFFFFu - 1000;  // expiry across the wrap
  {
    CTestRouteClient client(endpoint);
    EXPECT_EQ(client.Ask(Request(Address(1, 1, 1, 1))), 1);
    EXPECT_EQ(client.Ask(Request(Address(2, 2, 2, 2))), 1);
    EXPECT_EQ(client.Ask(Request(Address(10, 8, 0, 1))), 1);
  }
  // A purge runs whenever a client connects; a request afterwards proves
  // that the connection was taken.
  auto connectAt = [&](Tick t, std::uint32_t ask) {
    now = t;
    CTestRouteClient c(endpoint);
    return c.Ask(Request(ask));
  };
  EXPECT_EQ(connectAt(start + 359000, Address(2, 2, 2, 2)), 1);  // refreshes 2.2.2.2
  EXPECT_TRUE(Host(Address(1, 1, 1, 1)));
  EXPECT_EQ(connectAt(start + 360000, Address(3, 3, 3, 3)), 1);
  EXPECT_FALSE(Host(Address(1, 1, 1, 1)));
  EXPECT_TRUE(Host(Address(2, 2, 2, 2)));
  EXPECT_TRUE(Host(Address(10, 8, 0, 1)));
  EXPECT_EQ(connectAt(start + 359000 + 360000, Address(3, 3, 3, 3)), 1);
  EXPECT_FALSE(Host(Address(2, 2, 2, 2)));
  EXPECT_TRUE(Host(Address(10, 8, 0, 1)));
  server->Stop();
  EXPECT_FALSE(Host(Address(10, 8, 0, 1)));
  EXPECT_EQ(table.CountRows(), baseline);
  // What stopped the server does not stop it again at the next start.
  ASSERT_TRUE(server->Start(templ));
  CTestRouteClient again(endpoint);
  EXPECT_EQ(again.Ask(Request(Address(4, 4, 4, 4))), 1);
}

INSTANTIATE_TEST_SUITE_P(Platform, RouteRequestTransportTest, ::testing::Values(PlatformRouteRequestTransport()),
                         [](const ::testing::TestParamInfo<RouteRequestTransport>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
