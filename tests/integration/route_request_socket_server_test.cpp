// What only the Linux transport of the route request server has: a socket
// file that other processes of the same user reach and other users do not,
// that a stale copy of does not block and that is gone after a stop, and
// paths that cannot be bound or sit in a folder others may write to. The
// behaviour both transports share is in tests/transport.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <grp.h>
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
  EXPECT_EQ(info.st_mode & 0777, 0600u);
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

// A child that becomes `uid` (and `uid`'s group) and asks for a route:
// the reply, -1 when the connection was refused or dropped.
int AskAs(uid_t uid, const std::wstring& endpoint, std::uint32_t address) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -3;
  const pid_t child = fork();
  if (child < 0) return -3;
  if (child == 0) {
    close(pipeFds[0]);
    signed char reply = -4;
    if (setgroups(0, nullptr) == 0 && setgid(uid) == 0 && setuid(uid) == 0) {
      CTestRouteClient c(endpoint, 0);
      const int answer = c.Connected() ? c.Ask(Request(address)) : -1;
      reply = static_cast<signed char>(answer < 0 ? -1 : answer);  // dropped, however it showed
    }
    [[maybe_unused]] ssize_t n = write(pipeFds[1], &reply, 1);
    _exit(0);
  }
  close(pipeFds[1]);
  signed char reply = -3;
  if (read(pipeFds[0], &reply, 1) != 1) reply = -3;
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return reply;
}

TEST_F(SocketServer, OnlyRootAndTheClientsUserGetRoutes) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  // The folder must let the others reach the socket at all, so that the
  // refusal seen is the server's own.
  const std::string folder = path.substr(0, path.rfind('/'));
  ASSERT_EQ(chmod(folder.c_str(), 0755), 0);
  constexpr uid_t kUser = 4242, kStranger = 65534;
  server->SetAllowedUser(kUser);
  ASSERT_TRUE(server->Start(templ));
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kUser);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  struct Case {
    const char* what;
    uid_t uid;
    mode_t socketMode;
    int reply;
  } cases[] = {
      {"the client's user", kUser, 0600, 1},
      {"root", 0, 0600, 1},
      {"another user, kept out by the mode", kStranger, 0600, -1},
      // The owner may open the mode up; the peer check still holds.
      {"another user past an opened mode", kStranger, 0666, -1},
      {"the client's user past an opened mode", kUser, 0666, 1},
  };
  int next = 1;
  for (const Case& c : cases) {
    ASSERT_EQ(chmod(path.c_str(), c.socketMode), 0) << c.what;
    const std::uint32_t address = Address(40, 1, 0, next++);
    EXPECT_EQ(AskAs(c.uid, endpoint, address), c.reply) << c.what;
    ForwardRow row = templ;
    row.destination = address;
    row.mask = 0xFFFFFFFFu;
    EXPECT_EQ(table.Has(row), c.reply == 1) << c.what;
  }
  server->Stop();
  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
}

TEST_F(SocketServer, AFolderOthersMayWriteToFailsTheStart) {
  const std::string folder = path.substr(0, path.rfind('/'));
  struct Case {
    mode_t mode;
    bool starts;
  } cases[] = {{0700, true}, {0755, true}, {0775, false}, {0777, false}, {01777, false}};
  for (const Case& c : cases) {
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    EXPECT_EQ(server->Start(templ), c.starts) << std::oct << c.mode;
    server->Stop();
  }
  ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
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
