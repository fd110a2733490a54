// The leak bed: the terminal client against a real openvpn server while a
// generator in the client's namespace keeps sending TCP, UDP, ICMP and DNS
// over IPv4 and IPv6 to test hosts the bed makes beside the server, and a
// capture on the client's physical link counts every packet that leaves
// other than to the server's endpoint, the local network or link-local
// addresses. Through every phase that count must be zero; after a user
// disconnect traffic flows again and no table of ours is left.
//
// QUILLNET_LEAK_BED=long adds a run over TCP and the tunnel's throughput
// with and without the rules.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "cli/cli_options.h"
#include "integration/cli/cli_bed.h"
#include "integration/cli/quillnet_process.h"

namespace {

namespace fs = std::filesystem;

// The test hosts, on the server's side only: nothing else is ever sent to.
constexpr const char* kHost4 = "198.18.0.10";
constexpr const char* kDns4 = "198.18.0.53";
constexpr const char* kHost6 = "2001:db8:98::10";
constexpr const char* kDns6 = "2001:db8:98::53";
// In the service's listed routes: through the tunnel in every mode.
constexpr const char* kListed4 = "192.0.2.10";

enum Kind { kTcp4, kUdp4, kIcmp4, kDns4Kind, kListed4Kind, kTcp6, kUdp6, kIcmp6, kDns6Kind, kOther, kKinds };
const char* const kKindNames[kKinds] = {"tcp4",  "udp4",  "icmp4", "dns4", "listed4",
                                        "tcp6",  "udp6",  "icmp6", "dns6", "other"};

double RealNow() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct PhaseCount {
  std::string name;
  double start = 0;
  bool mustNotLeak = true;
  // Listed routes: the plan sends the other IPv4 hosts around the tunnel.
  bool split = false;
  std::array<long, kKinds> seen{};  // packets to somewhere not allowed
  long sent = 0;                    // generator rounds in the phase
  double firstSeen = -1, lastSeen = -1;  // seconds into the phase
};

// The phases in order, each from its start time; packets and rounds are
// put in the phase their time falls in.
class CPhaseBook {
 public:
  void Begin(const std::string& name, bool mustNotLeak, bool split = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    PhaseCount p;
    p.name = name;
    p.start = RealNow();
    p.mustNotLeak = mustNotLeak;
    p.split = split;
    phases_.push_back(p);
  }
  void Seen(double at, Kind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (PhaseCount* p = At(at)) {
      ++p->seen[kind];
      if (p->firstSeen < 0) p->firstSeen = at - p->start;
      p->lastSeen = at - p->start;
    }
  }
  void Round(double at) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (PhaseCount* p = At(at)) ++p->sent;
  }
  std::vector<PhaseCount> Phases() {
    std::lock_guard<std::mutex> lock(mutex_);
    return phases_;
  }

 private:
  PhaseCount* At(double at) {
    for (auto it = phases_.rbegin(); it != phases_.rend(); ++it)
      if (at >= it->start) return &*it;
    return nullptr;
  }
  std::mutex mutex_;
  std::vector<PhaseCount> phases_;
};

bool InNetwork4(const std::uint8_t* a, const char* network, int bits) {
  in_addr n{};
  inet_pton(AF_INET, network, &n);
  std::uint32_t value, base;
  std::memcpy(&value, a, 4);
  base = n.s_addr;
  const std::uint32_t mask = bits == 0 ? 0 : htonl(~0u << (32 - bits));
  return (value & mask) == (base & mask);
}

// Sorts one outgoing frame: -1 when it is allowed to leave (the server's
// endpoint, the local network, link-local IPv6, ARP), else its kind.
int Classify(const std::uint8_t* frame, std::size_t length, bool serverTcp) {
  if (length < 14) return kOther;
  const std::uint16_t type = static_cast<std::uint16_t>(frame[12] << 8 | frame[13]);
  const std::uint8_t* ip = frame + 14;
  const std::size_t left = length - 14;
  if (type == ETH_P_ARP) return -1;
  if (type == ETH_P_IP && left >= 20) {
    const std::size_t header = static_cast<std::size_t>(ip[0] & 0x0F) * 4;
    const std::uint8_t protocol = ip[9];
    const std::uint8_t* dst = ip + 16;
    std::uint16_t port = 0;
    if ((protocol == IPPROTO_TCP || protocol == IPPROTO_UDP) && left >= header + 4)
      port = static_cast<std::uint16_t>(ip[header + 2] << 8 | ip[header + 3]);
    if (InNetwork4(dst, "10.99.0.1", 32) && port == 1194 && protocol == (serverTcp ? IPPROTO_TCP : IPPROTO_UDP))
      return -1;
    if (InNetwork4(dst, "10.99.0.0", 24)) return -1;  // the local network, allowed
    if (InNetwork4(dst, "192.0.2.0", 24)) return kListed4Kind;
    if (port == 53) return kDns4Kind;
    if (protocol == IPPROTO_TCP) return kTcp4;
    if (protocol == IPPROTO_UDP) return kUdp4;
    if (protocol == IPPROTO_ICMP) return kIcmp4;
    return kOther;
  }
  if (type == ETH_P_IPV6 && left >= 40) {
    const std::uint8_t next = ip[6];
    const std::uint8_t* dst = ip + 24;
    if ((dst[0] == 0xfe && (dst[1] & 0xc0) == 0x80) || (dst[0] == 0xff && dst[1] == 0x02)) return -1;
    std::uint16_t port = 0;
    if ((next == IPPROTO_TCP || next == IPPROTO_UDP) && left >= 44) port = static_cast<std::uint16_t>(ip[42] << 8 | ip[43]);
    if (port == 53) return kDns6Kind;
    if (next == IPPROTO_TCP) return kTcp6;
    if (next == IPPROTO_UDP) return kUdp6;
    if (next == IPPROTO_ICMPV6) return kIcmp6;
    return kOther;
  }
  return kOther;
}

// Every frame the client's namespace sends out of `device`.
class CCapture {
 public:
  CCapture(const std::string& device, CPhaseBook& book, bool serverTcp) : book_(book), serverTcp_(serverTcp) {
    fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd_ < 0) return;
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    sockaddr_ll at{};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ALL);
    at.sll_ifindex = static_cast<int>(if_nametoindex(device.c_str()));
    if (at.sll_ifindex == 0 || bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    thread_ = std::thread([this] { Loop(); });
  }
  ~CCapture() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }
  long Frames() const { return frames_; }

 private:
  void Loop() {
    std::uint8_t frame[2048];
    char control[256];
    while (!done_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      sockaddr_ll from{};
      iovec io{frame, sizeof frame};
      msghdr m{};
      m.msg_name = &from;
      m.msg_namelen = sizeof from;
      m.msg_iov = &io;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(fd_, &m, MSG_DONTWAIT);
      if (n <= 0 || from.sll_pkttype != PACKET_OUTGOING) continue;
      ++frames_;
      double at = RealNow();
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
          timespec t{};
          std::memcpy(&t, CMSG_DATA(c), sizeof t);
          at = static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
        }
      }
      const int kind = Classify(frame, static_cast<std::size_t>(n), serverTcp_);
      if (kind >= 0) book_.Seen(at, static_cast<Kind>(kind));
    }
  }

  CPhaseBook& book_;
  bool serverTcp_;
  int fd_ = -1;
  std::atomic<bool> done_{false};
  std::atomic<long> frames_{0};
  std::thread thread_;
};

// Sends one of each kind every 20 ms until stopped or its cap: at most
// kMaxRounds rounds of eight packets.
class CGenerator {
 public:
  static constexpr long kMaxRounds = 5000;
  explicit CGenerator(CPhaseBook& book) : book_(book) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~CGenerator() {
    done_ = true;
    thread_.join();
  }

 private:
  static void Send(int family, int type, int protocol, const char* address, std::uint16_t port, const void* data,
                   std::size_t size) {
    const int s = socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s < 0) return;
    sockaddr_storage to{};
    socklen_t length = 0;
    if (family == AF_INET) {
      auto* a = reinterpret_cast<sockaddr_in*>(&to);
      a->sin_family = AF_INET;
      a->sin_port = htons(port);
      inet_pton(AF_INET, address, &a->sin_addr);
      length = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in6*>(&to);
      a->sin6_family = AF_INET6;
      a->sin6_port = htons(port);
      inet_pton(AF_INET6, address, &a->sin6_addr);
      length = sizeof *a;
    }
    if (type == SOCK_STREAM) {
      (void)connect(s, reinterpret_cast<sockaddr*>(&to), length);  // the SYN is what counts
    } else {
      (void)sendto(s, data, size, 0, reinterpret_cast<sockaddr*>(&to), length);
    }
    close(s);
  }
  void Loop() {
    const char payload[] = "leak-bed";
    // A DNS query for "a." type A: what a resolver client would send.
    const std::uint8_t query[] = {0x12, 0x34, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 1, 'a', 0, 0, 1, 0, 1};
    icmphdr echo4{};
    echo4.type = ICMP_ECHO;
    echo4.un.echo.id = htons(0x5151);
    std::uint8_t echo6[8] = {ICMP6_ECHO_REQUEST, 0, 0, 0, 0x51, 0x51, 0, 0};
    for (long round = 0; round < kMaxRounds && !done_; ++round) {
      echo4.un.echo.sequence = htons(static_cast<std::uint16_t>(round));
      echo4.checksum = 0;
      std::uint32_t sum = 0;
      const auto* words = reinterpret_cast<const std::uint16_t*>(&echo4);
      for (std::size_t i = 0; i < sizeof echo4 / 2; ++i) sum += words[i];
      while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
      echo4.checksum = static_cast<std::uint16_t>(~sum);
      Send(AF_INET, SOCK_STREAM, 0, kHost4, 80, nullptr, 0);
      Send(AF_INET, SOCK_DGRAM, 0, kHost4, 9, payload, sizeof payload);
      Send(AF_INET, SOCK_RAW, IPPROTO_ICMP, kHost4, 0, &echo4, sizeof echo4);
      Send(AF_INET, SOCK_DGRAM, 0, kDns4, 53, query, sizeof query);
      Send(AF_INET, SOCK_DGRAM, 0, kListed4, 9, payload, sizeof payload);
      Send(AF_INET6, SOCK_STREAM, 0, kHost6, 80, nullptr, 0);
      Send(AF_INET6, SOCK_DGRAM, 0, kHost6, 9, payload, sizeof payload);
      Send(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6, kHost6, 0, echo6, sizeof echo6);
      Send(AF_INET6, SOCK_DGRAM, 0, kDns6, 53, query, sizeof query);
      book_.Round(RealNow());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  CPhaseBook& book_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Bytes per second of one TCP stream through the tunnel to a sink in the
// server's namespace, for `seconds`.
double TunnelThroughput(const std::string& serverNs, double seconds) {
  const int listener = [&] {
    // The sink lives in the server's namespace: a thread of ours enters it.
    int fd = -1;
    std::thread([&] {
      const int ns = open(("/run/netns/" + serverNs).c_str(), O_RDONLY | O_CLOEXEC);
      if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) return;
      close(ns);
      fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      int on = 1;
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in at{};
      at.sin_family = AF_INET;
      at.sin_port = htons(5201);
      inet_pton(AF_INET, kHost4, &at.sin_addr);
      if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 1) != 0) {
        close(fd);
        fd = -1;
      }
    }).join();
    return fd;
  }();
  if (listener < 0) return -1;
  std::atomic<long long> received{0};
  std::thread sink([&] {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return;
    const int c = accept(listener, nullptr, nullptr);
    if (c < 0) return;
    char buffer[65536];
    for (;;) {
      const ssize_t n = read(c, buffer, sizeof buffer);
      if (n <= 0) break;
      received += n;
    }
    close(c);
  });
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(5201);
  inet_pton(AF_INET, kHost4, &to.sin_addr);
  double rate = -1;
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    static char chunk[65536];
    const auto start = std::chrono::steady_clock::now();
    const long long before = received;
    while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) {
      if (write(s, chunk, sizeof chunk) <= 0) break;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rate = static_cast<double>(received - before) / elapsed;
  }
  close(s);
  sink.join();
  close(listener);
  return rate;
}

class LeakBed : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = OpenVpnBedMissing(); !missing.empty()) GTEST_SKIP() << missing;
    if (Shell("command -v nft >/dev/null") != 0) GTEST_SKIP() << "nft is not installed";
    ASSERT_TRUE(cli_.Open());
    // The gateway and the test hosts beside the server; IPv6 on the same link.
    const std::string s = "ip -n " + cli_.Bed().Namespace() + " ";
    ASSERT_EQ(Shell(s + "addr add 10.99.0.254/24 dev qb1"), 0);
    ASSERT_EQ(Shell(s + "addr add " + kHost4 + "/32 dev lo"), 0);
    ASSERT_EQ(Shell(s + "addr add " + kDns4 + "/32 dev lo"), 0);
    ASSERT_EQ(Shell(s + "addr add " + kListed4 + "/32 dev lo"), 0);
    ASSERT_EQ(Shell(s + "-6 addr add 2001:db8:99::1/64 dev qb1 nodad"), 0);
    ASSERT_EQ(Shell(s + "-6 addr add " + kHost6 + "/128 dev lo"), 0);
    ASSERT_EQ(Shell(s + "-6 addr add " + kDns6 + "/128 dev lo"), 0);
    ASSERT_EQ(cli_.Ns().Ip("-6 addr add 2001:db8:99::2/64 dev qb0 nodad"), 0);
    ASSERT_EQ(cli_.Ns().Ip("-6 route add default via 2001:db8:99::1 dev qb0"), 0);
  }
  void TearDown() override { cli_.Close(); }
  void StartService(const std::string& proto) {
    ASSERT_TRUE(cli_.StartService(OneServerConfig(proto)));
  }
  std::vector<std::string> Arguments(const std::string& route, std::vector<std::string> extra = {}) const {
    return cli_.ConnectArguments(route, "password", extra);
  }
  bool OurTable() { return Shell("ip netns exec " + cli_.Ns().Name() + " nft list table inet quillnet >/dev/null 2>&1") == 0; }

  // One pass through the phases with the server on `proto`; fills `book`.
  void RunPhases(const std::string& proto, CPhaseBook& book) {
    const bool tcp = proto == "tcp";
    ASSERT_TRUE(cli_.Bed().StartServer(proto));
    StartService(proto);
    CCapture capture("qb0", book, tcp);
    ASSERT_TRUE(capture.Ok());
    book.Begin("open (no client)", false);
    CGenerator generator(book);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    {
      book.Begin("login (no block yet)", false);
      CQuillnetProcess client(Arguments("all"));
      ASSERT_TRUE(client.WaitForOutput("leak protection: connecting")) << client.Output();
      book.Begin(proto + ": connecting", true);
      ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
      book.Begin(proto + ": connected (all)", true);
      std::this_thread::sleep_for(std::chrono::seconds(2));
      book.Begin(proto + ": openvpn killed", true);
      for (pid_t child : ChildProcesses(client.Pid())) kill(child, SIGKILL);
      ASSERT_TRUE(client.WaitForOutput("connection lost: reconnecting")) << client.Output();
      book.Begin(proto + ": reconnecting", true);
      ASSERT_TRUE(client.WaitForOutput("reconnected: ", std::chrono::seconds(90))) << client.Output();
      book.Begin(proto + ": reconnected", true);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      book.Begin(proto + ": server killed", true);
      cli_.Bed().KillServer();
      ASSERT_TRUE(client.WaitForCount("connection lost: reconnecting", 2, std::chrono::seconds(90))) << client.Output();
      book.Begin(proto + ": reconnecting", true);
      ASSERT_TRUE(cli_.Bed().StartServer(proto));
      ASSERT_TRUE(client.WaitForCount("reconnected: ", 2, std::chrono::seconds(120))) << client.Output();
      book.Begin(proto + ": reconnected", true);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      // What the user asked for: traffic flows once the client has let go.
      book.Begin(proto + ": user disconnect", false);
      client.Signal(SIGTERM);
      EXPECT_EQ(client.Wait(), kCliExitOk) << client.Output();
      EXPECT_NE(client.Output().find("leak protection: lifted"), std::string::npos) << client.Output();
    }
    book.Begin(proto + ": after disconnect", false);
    EXPECT_FALSE(OurTable()) << "a table of ours is left after the user's disconnect";
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    {
      book.Begin("login (no block yet)", false);
      CQuillnetProcess client(Arguments("listed:0"));
      ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
      book.Begin(proto + ": connected (listed)", true, true);
      std::this_thread::sleep_for(std::chrono::seconds(2));
      book.Begin(proto + ": user disconnect", false);
      client.Signal(SIGTERM);
      EXPECT_EQ(client.Wait(), kCliExitOk) << client.Output();
    }
    book.Begin(proto + ": after disconnect (listed)", false);
    EXPECT_FALSE(OurTable());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    {
      book.Begin("login (no block yet)", false);
      CQuillnetProcess client(Arguments("all"));
      ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
      book.Begin(proto + ": connected again", true);
      std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      book.Begin(proto + ": client SIGKILLed", true);
      const std::vector<pid_t> openvpn = ChildProcesses(client.Pid());
      client.Signal(SIGKILL);
      client.Wait();
      // Its openvpn goes too, as a crash of the whole session would take it.
      for (pid_t child : openvpn) kill(child, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      EXPECT_TRUE(OurTable()) << "the block went with the killed client";
    }
    // The user lifts the block: from here on traffic flows.
    book.Begin(proto + ": restore-routes", false);
    {
      CQuillnetProcess restore({"restore-routes", "--data", (cli_.Dir() / "data").string(), "--program-folder",
                                (cli_.Dir() / "program").string()});
      EXPECT_EQ(restore.Wait(), kCliExitOk) << restore.Output();
      EXPECT_NE(restore.Output().find("lifted the block an earlier run left"), std::string::npos) << restore.Output();
    }
    book.Begin(proto + ": after restore-routes", false);
    EXPECT_FALSE(OurTable());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    book.Begin("end", false);
    cli_.StopService();
    cli_.Bed().KillServer();
  }

  CCliBed cli_;
};

void PrintTable(const std::vector<PhaseCount>& phases) {
  std::printf("[ leak bed ] %-28s %6s", "phase", "rounds");
  for (const char* k : kKindNames) std::printf(" %6s", k);
  std::printf("   (packets seen leaving the physical link to anything not allowed)\n");
  for (const PhaseCount& p : phases) {
    if (p.name == "end") continue;
    std::printf("[ leak bed ] %-28s %6ld", p.name.c_str(), p.sent);
    for (long n : p.seen) std::printf(" %6ld", n);
    std::printf("%s", !p.mustNotLeak ? "   (not protected: flows)" : p.split ? "   (tcp4 udp4 icmp4 go around by the plan)" : "");
    if (p.mustNotLeak && p.firstSeen >= 0) std::printf("   seen %.3f..%.3f s into the phase", p.firstSeen, p.lastSeen);
    std::printf("\n");
  }
}

TEST_F(LeakBed, NothingLeavesAroundTheTunnelInAnyPhase) {
  const bool longForm = std::getenv("QUILLNET_LEAK_BED") && std::string(std::getenv("QUILLNET_LEAK_BED")) == "long";
  std::vector<std::string> protos{"udp"};
  if (longForm) protos.push_back("tcp");
  for (const std::string& proto : protos) {
    SCOPED_TRACE(proto);
    CPhaseBook book;
    RunPhases(proto, book);
    if (HasFatalFailure()) return;
    const std::vector<PhaseCount> phases = book.Phases();
    PrintTable(phases);
    for (const PhaseCount& p : phases) {
      if (p.mustNotLeak) {
        for (int k = 0; k < kKinds; ++k) {
          if (p.split && (k == kTcp4 || k == kUdp4 || k == kIcmp4)) continue;
          EXPECT_EQ(p.seen[k], 0) << p.name << " " << kKindNames[k];
        }
        // The plan's own way around the tunnel stays open.
        if (p.split) EXPECT_GT(p.seen[kUdp4], 0) << p.name;
      }
      // Traffic flows again: the capture sees the generator once nothing blocks.
      if (p.name.find("after") != std::string::npos || p.name.find("open") == 0) {
        EXPECT_GT(p.seen[kUdp4], 0) << p.name;
        EXPECT_GT(p.seen[kUdp6], 0) << p.name;
      }
    }
  }
  if (!longForm) return;
  // Throughput through the tunnel with the rules in force and without.
  ASSERT_TRUE(cli_.Bed().StartServer("udp"));
  StartService("udp");
  // Pairs of runs, the order flipped each pair so a drift of the machine
  // weighs on both sides alike; the median pair's ratio is the figure, the
  // one a busy moment moves least.
  constexpr int kPairs = 5;
  std::vector<double> ratios;
  double with = 0, without = 0;
  for (int run = 0; run < 2 * kPairs; ++run) {
    const bool on = (run % 2 == 0) == (run / 2 % 2 == 0);
    CQuillnetProcess client(Arguments("all", {"--leak-protection", on ? "on" : "off"}));
    ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
    EXPECT_EQ(OurTable(), on);
    const double rate = TunnelThroughput(cli_.Bed().Namespace(), 2.0);
    (on ? with : without) = rate;
    client.Signal(SIGTERM);
    EXPECT_EQ(client.Wait(), kCliExitOk) << client.Output();
    if (run % 2 == 0) continue;
    const double ratio = without > 0 ? with / without : 0.0;
    ratios.push_back(ratio);
    std::printf("[ leak bed ] tunnel throughput, pair %d: with the rules %.1f Mbit/s, without %.1f Mbit/s, ratio %.3f\n",
                run / 2 + 1, with * 8 / 1e6, without * 8 / 1e6, ratio);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("[ leak bed ] tunnel throughput with/without the rules: median ratio %.3f of %zu pairs (%.3f..%.3f)\n",
              ratios[ratios.size() / 2], ratios.size(), ratios.front(), ratios.back());
}

}  // namespace
