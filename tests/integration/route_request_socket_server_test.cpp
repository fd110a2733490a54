// The Linux route request server with real clients over its socket; routes
// go into the in-memory table, so no root is needed.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "accel/route_request_socket_server.h"
#include "fakes/fake_forward_table.h"
#include "fakes/route_request_bytes.h"

namespace {

class CClient {
 public:
  explicit CClient(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~CClient() { Close(); }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool Connected() const { return fd_ >= 0; }
  bool Send(const std::vector<unsigned char>& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // The reply byte, -1 on end of stream, -2 when nothing came in time.
  int Reply(int timeoutMs = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return -2;
    unsigned char b = 0;
    const ssize_t n = recv(fd_, &b, 1, 0);
    return n == 1 ? b : -1;
  }
  int Ask(const std::vector<unsigned char>& bytes, int timeoutMs = 5000) {
    return Send(bytes) ? Reply(timeoutMs) : -3;
  }

 private:
  int fd_ = -1;
};

class SocketServer : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpHomeNetwork(table);
    baseline = table.CountRows();
    templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
    path = "/tmp/qr-rrs-" + std::to_string(getpid()) + ".sock";
    server = std::make_unique<CVpnRouteRequestSocketServer>(table, path, [this] { return now.load(); });
  }
  void TearDown() override { server.reset(); }

  std::atomic<Tick> now{1000};
  CFakeForwardTable table;
  std::size_t baseline = 0;
  ForwardRow templ;
  std::string path;
  std::unique_ptr<CVpnRouteRequestSocketServer> server;
};

TEST_F(SocketServer, ManyClientsManyRequestsEach) {
  ASSERT_TRUE(server->Start(templ));
  constexpr int kClients = 40, kEach = 150;
  std::atomic<int> ones{0}, others{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c)
    threads.emplace_back([&, c] {
      CClient client(path);
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
  struct stat info {};
  EXPECT_NE(stat(path.c_str(), &info), 0) << "socket file left behind";
}

TEST_F(SocketServer, MalformedRequestsGetZeroAndTheConversationGoesOn) {
  ASSERT_TRUE(server->Start(templ));
  CClient client(path);
  ASSERT_TRUE(client.Connected());
  std::vector<std::vector<unsigned char>> bad = {
      {1}, {1, 2}, {1, 2, 3}, {1, 2, 3, 4}, {1, 2, 3, 4, 5, 6}, Request(Address(8, 8, 8, 8), 2),
      Request(Address(8, 8, 8, 8), 0), Request(0), std::vector<unsigned char>(4096, 1),
  };
  for (std::size_t length = 1; length <= 64; ++length)
    if (length != 5) bad.push_back(std::vector<unsigned char>(length, 1));
  for (std::size_t i = 0; i < bad.size(); ++i) EXPECT_EQ(client.Ask(bad[i]), 0) << "message " << i;
  EXPECT_EQ(client.Ask(Request(Address(8, 8, 8, 8))), 1);
  EXPECT_EQ(table.CountRows(), baseline + 1);
  // A route someone else made is refused and never deleted by us.
  ForwardRow theirs = templ;
  theirs.destination = Address(9, 9, 9, 9);
  theirs.mask = 0xFFFFFFFFu;
  table.PutRow(theirs);
  EXPECT_EQ(client.Ask(Request(Address(9, 9, 9, 9))), 0);
  server->Stop();
  EXPECT_TRUE(table.Has(theirs));
  EXPECT_EQ(table.CountRows(), baseline + 1);
}

TEST_F(SocketServer, EmptyAndOversizedMessagesEndTheConnectionOnly) {
  ASSERT_TRUE(server->Start(templ));
  for (std::size_t size : {std::size_t{0}, std::size_t{4097}, std::size_t{20000}}) {
    CClient client(path);
    ASSERT_TRUE(client.Connected());
    std::vector<unsigned char> bytes(size, 1);
    ASSERT_TRUE(client.Send(bytes));
    EXPECT_EQ(client.Reply(), -1) << size;
  }
  CClient after(path);
  EXPECT_EQ(after.Ask(Request(Address(8, 8, 4, 4))), 1);
}

TEST_F(SocketServer, SilentAndVanishingClientsDoNotHoldOthersUp) {
  ASSERT_TRUE(server->Start(templ));
  CClient silent(path);
  ASSERT_TRUE(silent.Connected());
  for (int i = 0; i < 5; ++i) {
    CClient leaving(path);
    ASSERT_TRUE(leaving.Send(Request(Address(20, 0, 0, i + 1))));
    leaving.Close();  // gone before the reply
  }
  CClient client(path);
  EXPECT_EQ(client.Ask(Request(Address(20, 0, 0, 1))), 1);
  server->Stop();  // returns with the silent client still connected
  EXPECT_EQ(table.CountRows(), baseline);
  EXPECT_EQ(silent.Reply(1000), -1);
}

TEST_F(SocketServer, MoreClientsThanInstancesWaitTheirTurn) {
  ASSERT_TRUE(server->Start(templ));
  std::vector<std::unique_ptr<CClient>> clients;
  for (int i = 0; i < kRouteRequestMaxInstances; ++i) {
    clients.push_back(std::make_unique<CClient>(path));
    ASSERT_EQ(clients.back()->Ask(Request(Address(30, 0, 0, i + 1))), 1) << i;
  }
  std::vector<std::unique_ptr<CClient>> waiting;
  for (int i = 0; i < 8; ++i) {
    waiting.push_back(std::make_unique<CClient>(path));
    ASSERT_TRUE(waiting.back()->Connected());
    ASSERT_TRUE(waiting.back()->Send(Request(Address(31, 0, 0, i + 1))));
  }
  EXPECT_EQ(waiting[0]->Reply(300), -2);  // no free instance yet
  for (int i = 0; i < 8; ++i) clients[i]->Close();
  for (int i = 0; i < 8; ++i) EXPECT_EQ(waiting[i]->Reply(), 1) << i;
}

TEST_F(SocketServer, UnrequestedRoutesExpireAfterSixMinutesUnlessKept) {
  server->AddKeptRoute(L"10.8.0.1", L"255.255.255.255");
  ASSERT_TRUE(server->Start(templ));
  const Tick start = now = 0xFFFFFFFFu - 1000;  // expiry across the wrap
  {
    CClient client(path);
    EXPECT_EQ(client.Ask(Request(Address(1, 1, 1, 1))), 1);
    EXPECT_EQ(client.Ask(Request(Address(2, 2, 2, 2))), 1);
    EXPECT_EQ(client.Ask(Request(Address(10, 8, 0, 1))), 1);
  }
  auto host = [&](std::uint32_t a) {
    ForwardRow r = templ;
    r.destination = a;
    r.mask = 0xFFFFFFFFu;
    return table.Has(r);
  };
  // A purge runs whenever a client connects; a request afterwards proves
  // that the connection was taken.
  auto connectAt = [&](Tick t, std::uint32_t ask) {
    now = t;
    CClient c(path);
    return c.Ask(Request(ask));
  };
  EXPECT_EQ(connectAt(start + 359000, Address(2, 2, 2, 2)), 1);  // refreshes 2.2.2.2
  EXPECT_TRUE(host(Address(1, 1, 1, 1)));
  EXPECT_EQ(connectAt(start + 360000, Address(3, 3, 3, 3)), 1);
  EXPECT_FALSE(host(Address(1, 1, 1, 1)));
  EXPECT_TRUE(host(Address(2, 2, 2, 2)));
  EXPECT_TRUE(host(Address(10, 8, 0, 1)));
  EXPECT_EQ(connectAt(start + 359000 + 360000, Address(3, 3, 3, 3)), 1);
  EXPECT_FALSE(host(Address(2, 2, 2, 2)));
  EXPECT_TRUE(host(Address(10, 8, 0, 1)));
  server->Stop();
  EXPECT_FALSE(host(Address(10, 8, 0, 1)));
  EXPECT_EQ(table.CountRows(), baseline);
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
    CClient c(path);
    _exit(c.Ask(Request(Address(40, 0, 0, 1))) == 1 ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  server->Stop();
  // A stale socket file from a crashed run does not stop the next start.
  const int stale = socket(AF_UNIX, SOCK_SEQPACKET, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  close(stale);
  ASSERT_TRUE(server->Start(templ));
  CClient fresh(path);
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
