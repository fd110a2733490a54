// A second route request server never takes over the endpoint of a live
// one; a socket left by a server that died is replaced.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "accel/route_request_socket_server.h"
#include "fakes/fake_forward_table.h"
#include "fakes/route_request_bytes.h"
#include "fakes/temp_dir.h"

namespace {

int Ask(const std::string& path, std::uint32_t address) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  int reply = -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const std::vector<unsigned char> request = Request(address);
    unsigned char b = 0;
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) == 5 && recv(fd, &b, 1, 0) == 1) reply = b;
  }
  close(fd);
  return reply;
}

TEST(RouteRequestTakeover, ALiveServerKeepsItsEndpoint) {
  CTempDir dir;
  const std::string path = (dir.Path() / "route.sock").string();
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const ForwardRow templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
  CVpnRouteRequestSocketServer first(table, path);
  ASSERT_TRUE(first.Start(templ));
  CVpnRouteRequestSocketServer second(table, path);
  EXPECT_FALSE(second.Start(templ));
  EXPECT_FALSE(second.IsRunning());
  // The first still owns the path and answers.
  EXPECT_EQ(Ask(path, Address(198, 51, 100, 9)), 1);
  first.Stop();
  // Once the first has gone, the second may start.
  EXPECT_TRUE(second.Start(templ));
  EXPECT_EQ(Ask(path, Address(198, 51, 100, 10)), 1);
  second.Stop();
}

TEST(RouteRequestTakeover, ASocketLeftByADeadServerIsReplaced) {
  CTempDir dir;
  const std::string path = (dir.Path() / "route.sock").string();
  {  // bound and closed without unlinking, as a killed server leaves it
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(fd);
  }
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  CVpnRouteRequestSocketServer server(table, path);
  ASSERT_TRUE(server.Start(MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6)));
  EXPECT_EQ(Ask(path, Address(198, 51, 100, 11)), 1);
  server.Stop();
}

}  // namespace
