// What only the Linux transport of the route request server has: a socket
// file that other processes (and users) reach, that a stale copy of does not
// block and that is gone after a stop, and paths that cannot be bound. The
// behaviour both transports share is in tests/transport.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "accel/route_request_socket_server.h"
#include "fakes/fake_forward_table.h"
#include "fakes/route_request_bytes.h"
#include "fakes/route_request_client.h"
#include "platform/strings.h"

namespace {

class SocketServer : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpHomeNetwork(table);
    baseline = table.CountRows();
    templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
    endpoint = FreshRouteRequestEndpoint();
    path = WideToNarrow(endpoint);
    server = std::make_unique<CVpnRouteRequestSocketServer>(table, path, [this] { return now.load(); });
  }
  void TearDown() override { server.reset(); }

  std::atomic<Tick> now{1000};
  CFakeForwardTable table;
  std::size_t baseline = 0;
  ForwardRow templ;
  std::wstring endpoint;
  std::string path;
  std::unique_ptr<CVpnRouteRequestSocketServer> server;
};

TEST_F(SocketServer, AnEmptyMessageEndsTheConnectionOnly) {
  ASSERT_TRUE(server->Start(templ));
  CTestRouteClient client(endpoint);
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.Send({}));
  EXPECT_EQ(client.Reply(), -1);
  CTestRouteClient after(endpoint);
  EXPECT_EQ(after.Ask(Request(Address(8, 8, 4, 4))), 1);
}

TEST_F(SocketServer, OtherProcessesMayConnectAndStartTwiceFails) {
  ASSERT_TRUE(server->Start(templ));
  EXPECT_FALSE(server->Start(templ));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0666u);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CTestRouteClient c(endpoint);
    _exit(c.Ask(Request(Address(40, 0, 0, 1))) == 1 ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  server->Stop();
  EXPECT_NE(stat(path.c_str(), &info), 0) << "socket file left behind";
  // A stale socket file from a crashed run does not stop the next start.
  const int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  close(stale);
  ASSERT_TRUE(server->Start(templ));
  CTestRouteClient fresh(endpoint);
  EXPECT_EQ(fresh.Ask(Request(Address(40, 0, 0, 2))), 1);
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_F(SocketServer, APathThatCannotBeBoundFailsTheStart) {
  CVpnRouteRequestSocketServer nowhere(table, "/nonexistent-qr-dir/socket");
  EXPECT_FALSE(nowhere.Start(templ));
  CVpnRouteRequestSocketServer tooLong(table, "/tmp/qr-" + std::string(200, 'x'));
  EXPECT_FALSE(tooLong.Start(templ));
  // Whatever else sits at the path is not ours to remove.
  const std::string file = path + ".file";
  { std::FILE* f = std::fopen(file.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
  CVpnRouteRequestSocketServer occupied(table, file);
  EXPECT_FALSE(occupied.Start(templ));
  struct stat info {};
  EXPECT_EQ(stat(file.c_str(), &info), 0);
  std::remove(file.c_str());
}

}  // namespace
