// What other processes can make the route request server do is bounded.
#include <gtest/gtest.h>

#include <cstdint>

#include "accel/route_request_server.h"
#include "fakes/fake_forward_table.h"
#include "fakes/route_request_bytes.h"
#include "fakes/test_vpn.h"

namespace {

// Requests beyond the cap get the failure reply and add nothing; expired
// ones make room again.
TEST(RouteRequestLimits, AtMostTheCapOfHostRoutesAtOnce) {
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const std::size_t rows = table.CountRows();
  Tick now = 1000;
  CVpnRouteRequestBaseServer::Clock clock = [&now] { return now; };
  class CServer : public CVpnRouteRequestBaseServer {
   public:
    CServer(IForwardTable& t, Clock c) : CVpnRouteRequestBaseServer(t, std::move(c)) {}

   protected:
    void Run() override {}
    void SignalStop() override {}
  } server(table, clock);
  ForwardRow templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
  ASSERT_TRUE(server.Start(templ));
  for (std::size_t i = 0; i < kMaxRequestedRoutes; ++i) {
    const auto a = Address(100, static_cast<int>(i >> 16 & 0xFF), static_cast<int>(i >> 8 & 0xFF),
                           static_cast<int>(i & 0xFF));
    ASSERT_EQ(server.Answer(Request(a).data(), 5), 1) << i;
  }
  EXPECT_EQ(table.CountRows(), rows + kMaxRequestedRoutes);
  const std::uint32_t oneMore = Address(101, 0, 0, 1);
  EXPECT_EQ(server.Answer(Request(oneMore).data(), 5), 0);
  EXPECT_EQ(table.CountRows(), rows + kMaxRequestedRoutes);
  // An address already held is still answered.
  EXPECT_EQ(server.Answer(Request(Address(100, 0, 0, 7)).data(), 5), 1);
  // Six minutes on, the old routes expire and the newcomer fits.
  now += kRequestedRouteLifetimeMs + 1;
  EXPECT_EQ(server.Answer(Request(oneMore).data(), 5), 1);
  EXPECT_EQ(server.RequestedRoutes().size(), 1u);
  server.Stop();
  EXPECT_EQ(table.CountRows(), rows);
}

}  // namespace
