// The Linux bind module inside a real program against the real kernel: a
// client namespace whose default route leads to a "direct" side and whose
// TUN tunnel leads to a "via-vpn" side, both answering for the same target
// addresses; the route request server adds host routes through the tunnel.
#include <dlfcn.h>
#include <fcntl.h>
#include <net/if.h>
#include <linux/if_tun.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "accel/bind_module.h"
#include "accel/route_request_socket_server.h"
#include "fakes/temp_dir.h"
#include "routing/route_table_linux.h"
#include "test_netns.h"
#include "tools/netns_linux.h"

namespace {

constexpr char kTarget[] = "198.51.100.7";
constexpr char kTarget2[] = "198.51.100.8";
constexpr char kTcpPort[] = "7000";
constexpr char kUdpPort[] = "7001";

int OpenTun(const char* name) {
  const int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
  if (ioctl(fd, TUNSETIFF, &request) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Answers on the target addresses with its own name: a TCP greeting and a
// UDP echo of the name. Sockets are made inside the side's namespace and
// served from here.
class CSide {
 public:
  CSide(const CTestNetns& ns, std::string name) : name_(std::move(name)) {
    ns.RunInside([&] {
      for (const char* target : {kTarget, kTarget2}) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, target, &a.sin_addr);
        a.sin_port = htons(static_cast<std::uint16_t>(std::atoi(kTcpPort)));
        const int t = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(t, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(t, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(t, 64) == 0) tcp_.push_back(t);
        a.sin_port = htons(static_cast<std::uint16_t>(std::atoi(kUdpPort)));
        const int u = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (bind(u, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) udp_.push_back(u);
      }
    });
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Serve(); });
  }
  ~CSide() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stop_, &one, sizeof one);
    thread_.join();
    for (int fd : tcp_) close(fd);
    for (int fd : udp_) close(fd);
    close(stop_);
  }
  bool Ok() const { return tcp_.size() == 2 && udp_.size() == 2; }

 private:
  void Serve() {
    for (;;) {
      std::vector<pollfd> p{{stop_, POLLIN, 0}};
      for (int fd : tcp_) p.push_back({fd, POLLIN, 0});
      for (int fd : udp_) p.push_back({fd, POLLIN, 0});
      if (poll(p.data(), p.size(), -1) < 0 || p[0].revents) return;
      for (std::size_t i = 1; i < p.size(); ++i) {
        if (!(p[i].revents & POLLIN)) continue;
        if (i <= tcp_.size()) {
          const int c = accept4(p[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
          if (c >= 0) {
            [[maybe_unused]] ssize_t n = send(c, name_.data(), name_.size(), MSG_NOSIGNAL);
            close(c);
          }
        } else {
          char buffer[64];
          sockaddr_in from{};
          socklen_t length = sizeof from;
          if (recvfrom(p[i].fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length) > 0)
            sendto(p[i].fd, name_.data(), name_.size(), 0, reinterpret_cast<sockaddr*>(&from), length);
        }
      }
    }
  }

  std::string name_;
  std::vector<int> tcp_, udp_;
  int stop_ = -1;
  std::thread thread_;
};

// Carries packets between the client's TUN device and the VPN side's, as a
// VPN program would (without the encryption).
class CTunnel {
 public:
  CTunnel(int a, int b) : a_(a), b_(b) {
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] {
      unsigned char packet[65536];
      for (;;) {
        pollfd p[3] = {{stop_, POLLIN, 0}, {a_, POLLIN, 0}, {b_, POLLIN, 0}};
        if (poll(p, 3, -1) < 0 || p[0].revents) return;
        for (int i = 1; i <= 2; ++i) {
          if (!(p[i].revents & POLLIN)) continue;
          const ssize_t n = read(p[i].fd, packet, sizeof packet);
          if (n > 0) [[maybe_unused]] ssize_t w = write(i == 1 ? b_ : a_, packet, static_cast<std::size_t>(n));
        }
      }
    });
  }
  ~CTunnel() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(stop_, &one, sizeof one);
    thread_.join();
    close(stop_);
    close(a_);
    close(b_);
  }

 private:
  int a_, b_, stop_ = -1;
  std::thread thread_;
};

std::uint32_t Address(const char* dotted) {
  in_addr a{};
  inet_pton(AF_INET, dotted, &a);
  return a.s_addr;
}

class BindPreload : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!CanUseTestNetns(why)) GTEST_SKIP() << why;
    ns = std::make_unique<CTestNamespace>();  // this thread now lives in the client's namespace
    ASSERT_TRUE(ns->Ok());
    direct = std::make_unique<CTestNetns>("bd");
    vpnSide = std::make_unique<CTestNetns>("bv");
    ASSERT_TRUE(direct->Ok() && vpnSide->Ok());
    ASSERT_EQ(ns->Ip("link add qblan0 type veth peer name qblan0p netns " + direct->Name()), 0);
    ASSERT_EQ(ns->Ip("addr add 192.168.77.2/24 dev qblan0"), 0);
    ASSERT_EQ(ns->Ip("link set qblan0 up"), 0);
    ASSERT_EQ(ns->Ip("route add default via 192.168.77.1 dev qblan0 metric 100"), 0);
    ASSERT_TRUE(direct->Ip("addr add 192.168.77.1/24 dev qblan0p") && direct->Ip("link set qblan0p up"));
    const int clientTun = OpenTun("qbtun0");
    int vpnTun = -1;
    vpnSide->RunInside([&] { vpnTun = OpenTun("qbtun1"); });
    ASSERT_GE(clientTun, 0);
    ASSERT_GE(vpnTun, 0);
    tunnel = std::make_unique<CTunnel>(clientTun, vpnTun);
    ASSERT_EQ(ns->Ip("addr add 10.8.0.2 peer 10.8.0.1 dev qbtun0"), 0);
    ASSERT_EQ(ns->Ip("link set qbtun0 up"), 0);
    ASSERT_TRUE(vpnSide->Ip("addr add 10.8.0.1 peer 10.8.0.2 dev qbtun1") && vpnSide->Ip("link set qbtun1 up"));
    for (const char* t : {kTarget, kTarget2}) {
      ASSERT_TRUE(direct->Ip(std::string("addr add ") + t + "/32 dev lo"));
      ASSERT_TRUE(vpnSide->Ip(std::string("addr add ") + t + "/32 dev lo"));
    }
    directServer = std::make_unique<CSide>(*direct, "direct");
    vpnServer = std::make_unique<CSide>(*vpnSide, "via-vpn");
    ASSERT_TRUE(directServer->Ok() && vpnServer->Ok());

    routeTemplate.ifIndex = if_nametoindex("qbtun0");
    ASSERT_NE(routeTemplate.ifIndex, 0u);
    routeTemplate.nextHop = Address("10.8.0.2");
    routeTemplate.type = kRouteTypeDirect;
    routeTemplate.protocol = kRouteProtocolNetMgmt;
    routeTemplate.metric1 = 1;
    routeTemplate.metric2 = routeTemplate.metric3 = routeTemplate.metric4 = routeTemplate.metric5 = kMetricUnused;

    socketPath = (dir.Path() / "route.sock").string();
    listPath = (dir.Path() / "applist.ini").string();
    statePath = (dir.Path() / "tunnel").string();
    setenv("QUILLNET_BIND_STATE", statePath.c_str(), 1);
    table = CreateLinuxForwardTable(dir.Path().string());
    before = ns->RouteDump();
  }
  void TearDown() override {
    if (server) server->Stop();
    server.reset();
    table.reset();
    directServer.reset();
    vpnServer.reset();
    tunnel.reset();
    vpnSide.reset();
    direct.reset();
    ns.reset();
    unlink(socketPath.c_str());
    unsetenv("QUILLNET_BIND_STATE");
  }

  void StartServer() {
    server = std::make_unique<CVpnRouteRequestSocketServer>(*table, socketPath, [this] { return now.load(); });
    ASSERT_TRUE(server->Start(routeTemplate));
  }
  // The client's own calls: the module loaded by name, started with the
  // tunnel's address.
  void StartTunnel() {
    loader = CreateSystemModuleLoader();
    ASSERT_NE(loader->Load(kBindModuleName), nullptr) << dlerror();
    ASSERT_EQ(StartBindModule(*loader, Address("10.8.0.2"), nullptr), BindStartResult::Started);
  }
  void WriteList(const std::string& text) {
    const std::string temporary = listPath + ".new";
    std::ofstream(temporary, std::ios::binary) << text;
    std::rename(temporary.c_str(), listPath.c_str());
  }
  static std::string Section(int active, int async = 0) {
    return std::string("[/some/shortcut]\nAppFullname=") + QUILLNET_BIND_PROBE + "\nUseAsyncMode=" +
           std::to_string(async) + "\nForceWSPBind=0\nActive=" + std::to_string(active) + "\n";
  }
  // Runs the probe in the client's namespace, with or without the module.
  std::string Probe(const std::string& arguments, bool preload = true) {
    std::string command = "env QUILLNET_BIND_LIST=" + listPath + " QUILLNET_BIND_SOCKET=" + socketPath +
                          " QUILLNET_BIND_STATE=" + statePath;
    if (preload) command += std::string(" LD_PRELOAD=") + QUILLNET_BIND_LIBRARY;
    command += std::string(" ") + QUILLNET_BIND_PROBE + " " + arguments + " 2>&1";
    return ShellOutput(command);
  }
  bool HasHostRoute(const char* target) {
    return ShellOutput("ip -n " + ns->Name() + " -4 route show " + target + "/32").find("dev qbtun0") !=
           std::string::npos;
  }

  CTempDir dir;
  std::unique_ptr<CTestNamespace> ns;
  std::unique_ptr<CTestNetns> direct, vpnSide;
  std::unique_ptr<CTunnel> tunnel;
  std::unique_ptr<CSide> directServer, vpnServer;
  std::unique_ptr<IForwardTable> table;
  std::unique_ptr<CVpnRouteRequestSocketServer> server;
  std::unique_ptr<IModuleLoader> loader;
  std::atomic<Tick> now{1000};
  ForwardRow routeTemplate;
  std::string socketPath, listPath, statePath, before;
};

TEST_F(BindPreload, AnActivatedProgramGoesThroughTheTunnelAndOthersDoNot) {
  StartServer();
  StartTunnel();
  const std::string target = std::string(kTarget) + " ";
  WriteList(Section(0));
  EXPECT_EQ(Probe("tcp " + target + kTcpPort), "direct\n") << "not activated";
  EXPECT_FALSE(HasHostRoute(kTarget));
  WriteList(Section(1));
  EXPECT_EQ(Probe("tcp " + target + kTcpPort, false), "direct\n") << "without the module";
  EXPECT_FALSE(HasHostRoute(kTarget));
  EXPECT_EQ(ns->RouteDump(), before);

  EXPECT_EQ(Probe("tcp " + target + kTcpPort), "via-vpn\n");
  EXPECT_TRUE(HasHostRoute(kTarget));
  EXPECT_EQ(Probe("tcp " + target + kTcpPort + " 3"), "via-vpn\nvia-vpn\nvia-vpn\n");

  server->Stop();
  EXPECT_EQ(ns->RouteDump(), before) << "stopping the server restores the table";
  EXPECT_EQ(Probe("tcp " + target + kTcpPort), "direct\n") << "with the server gone the program still connects";
}

TEST_F(BindPreload, DatagramsMappedAddressesAndForkedChildren) {
  StartServer();
  StartTunnel();
  WriteList(Section(1));
  struct Case {
    const char* mode;
    const char* port;
  } cases[] = {{"udp", kUdpPort}, {"udpmsg", kUdpPort}, {"udpmmsg", kUdpPort}, {"tcp6", kTcpPort}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(Probe(std::string(c.mode) + " " + kTarget + " " + c.port), "via-vpn\n");
    EXPECT_TRUE(HasHostRoute(kTarget));
    server->Stop();  // takes the route away again for the next case
    EXPECT_FALSE(HasHostRoute(kTarget));
    ASSERT_TRUE(server->Start(routeTemplate));
  }
  // The child asks on a connection of its own for an address the parent never asked for.
  EXPECT_EQ(Probe(std::string("fork ") + kTarget + " " + kTcpPort + " " + kTarget2), "via-vpn\nvia-vpn\n");
  EXPECT_TRUE(HasHostRoute(kTarget2));
}

TEST_F(BindPreload, TunnelDownOrStoppedModuleMeansDirect) {
  StartServer();
  WriteList(Section(1));
  EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort), "direct\n") << "no tunnel record yet";
  StartTunnel();
  EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort), "via-vpn\n");
  server->Stop();
  ASSERT_TRUE(server->Start(routeTemplate));
  StopBindModule(*loader);
  EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort), "direct\n");
  EXPECT_FALSE(HasHostRoute(kTarget));
}

TEST_F(BindPreload, RequestedRouteExpiresByTheServersClock) {
  StartServer();
  StartTunnel();
  WriteList(Section(1));
  EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort), "via-vpn\n");
  ASSERT_TRUE(HasHostRoute(kTarget));
  auto knock = [&] {  // a purge runs when a client connects
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socketPath.c_str(), sizeof a.sun_path - 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const unsigned char request[5] = {1, 127, 0, 0, 9};  // refused, but answered: the purge has run
    send(fd, request, 5, MSG_NOSIGNAL);
    unsigned char reply = 9;
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 10000), 1);
    EXPECT_EQ(recv(fd, &reply, 1, 0), 1);
    close(fd);
  };
  now += kRequestedRouteLifetimeMs - 1;
  knock();
  EXPECT_TRUE(HasHostRoute(kTarget));
  now += 1;
  knock();
  EXPECT_FALSE(HasHostRoute(kTarget));
  server->Stop();
  EXPECT_EQ(ns->RouteDump(), before);
}

// A server that never answers or answers garbage costs the program at most
// the module's timeout, after which it goes direct.
TEST_F(BindPreload, BrokenServersAreSurvived) {
  StartTunnel();
  WriteList(Section(1));
  for (const char* behaviour : {"silent", "garbage", "closes"}) {
    SCOPED_TRACE(behaviour);
    const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, socketPath.c_str(), sizeof a.sun_path - 1);
    unlink(socketPath.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    std::thread peer([&] {
      pollfd p{listener, POLLIN, 0};
      if (poll(&p, 1, 20000) != 1) return;
      const int c = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      unsigned char request[16];
      recv(c, request, sizeof request, 0);
      if (std::string(behaviour) == "garbage") send(c, "\x07\x07\x07", 3, MSG_NOSIGNAL);
      if (std::string(behaviour) != "closes") {
        pollfd q{c, POLLIN, 0};
        poll(&q, 1, 20000);  // until the program gives up and hangs up
      }
      close(c);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort + " 2"), "direct\ndirect\n");
    const auto took = std::chrono::steady_clock::now() - start;
    // One timeout and a pause for the second connect, never one per connect.
    EXPECT_LT(took, std::chrono::seconds(8));
    peer.join();
    close(listener);
    unlink(socketPath.c_str());
  }
  EXPECT_EQ(ns->RouteDump(), before);
}

TEST_F(BindPreload, BadListFilesAreNotActivations) {
  StartServer();
  StartTunnel();
  const std::string active = Section(1);
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"huge", active + std::string(2u << 20, '#')},
      {"binary", std::string("\0\xff\xfe[\x01\x02]\n\0", 9) + active.substr(1)},
      {"half written", active.substr(0, active.find("Active=") + 6)},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteList(c.text);
    EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort), "direct\n");
    EXPECT_FALSE(HasHostRoute(kTarget));
  }
  std::filesystem::remove(listPath);
  EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort), "direct\n") << "missing";
  std::filesystem::create_directory(listPath);
  EXPECT_EQ(Probe(std::string("tcp ") + kTarget + " " + kTcpPort), "direct\n") << "a folder";
  std::filesystem::remove(listPath);
}

// The list changes under a program that keeps connecting: every connect
// works, through whichever way the file said at the time.
TEST_F(BindPreload, AListChangingWhileProgramsRun) {
  StartServer();
  StartTunnel();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) {
      // Both atomic replacements and in-place rewrites that readers may catch half-way.
      if (i % 2) {
        WriteList(Section(i % 4 == 1));
      } else {
        std::ofstream out(listPath, std::ios::binary | std::ios::trunc);
        const std::string s = Section(1);
        for (char ch : s) out.put(ch).flush();
      }
    }
  });
  const std::string out = Probe(std::string("tcp ") + kTarget + " " + kTcpPort + " 40");
  stop = true;
  writer.join();
  int lines = 0;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1, ++lines) {
    const std::string line = out.substr(start, end - start);
    EXPECT_TRUE(line == "via-vpn" || line == "direct") << line;
  }
  EXPECT_EQ(lines, 40) << out;
}

}  // namespace
