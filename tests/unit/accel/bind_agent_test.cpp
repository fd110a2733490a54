#include "accel/bind_agent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

#ifdef _WIN32
constexpr std::uint16_t kInet6 = 23;
#else
constexpr std::uint16_t kInet6 = 10;
#endif

// Every request granted at once; what was asked is kept.
class CGrantingChannel : public IRouteRequestChannel {
 public:
  explicit CGrantingChannel(std::vector<std::uint32_t>& asked) : asked_(asked) {}
  bool Open() override { return true; }
  void Close() override {}
  bool Send(const unsigned char* bytes, std::size_t length) override {
    if (length != 5) return false;
    std::uint32_t a;
    std::memcpy(&a, bytes + 1, 4);
    asked_.push_back(a);
    ++pending_;
    return true;
  }
  int Receive(int) override {
    if (!pending_) return kTimedOut;
    --pending_;
    return 1;
  }

 private:
  std::vector<std::uint32_t>& asked_;
  int pending_ = 0;
};

class CCountingSocket : public IBindSocket {
 public:
  bool IsBound() override {
    ++boundQueries;
    return bound;
  }
  void Bind(const void*, std::size_t length) override { bindLengths.push_back(length); }
  bool bound = false;
  int boundQueries = 0;
  std::vector<std::size_t> bindLengths;
};

std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                  static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
  std::uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

std::vector<unsigned char> Inet4(std::uint32_t address) {
  std::vector<unsigned char> s(16, 0);
  s[0] = 2;
  std::memcpy(s.data() + 4, &address, 4);
  return s;
}

std::vector<unsigned char> Mapped6(std::uint32_t address) {
  std::vector<unsigned char> s(28, 0);
  std::memcpy(s.data(), &kInet6, 2);
  s[18] = s[19] = 0xFF;
  std::memcpy(s.data() + 20, &address, 4);
  return s;
}

std::vector<unsigned char> Truncated(std::vector<unsigned char> v, std::size_t n) {
  v.resize(n);
  return v;
}

struct AgentCase {
  const char* name;
  const char* list;  // the application list, "%s" for this program's path
  bool tunnelUp;
  std::vector<unsigned char> destination;
  bool socketBound;
  std::size_t asks;          // route requests sent
  int boundQueries;          // lower provider calls to learn whether the socket is bound
  std::vector<std::size_t> binds;  // lengths of the tunnel addresses bound
};

std::string List(const char* active, const char* force) {
  return std::string("[C:\\p.lnk]\nAppFullname=C:\\p.exe\nActive=") + active + "\nForceWSPBind=" + force + "\n";
}

TEST(BindAgent, AsksAndBindsOnlyWhatTheListAndTunnelCallFor) {
  const std::uint32_t far = Ip(93, 184, 216, 34);
  const AgentCase cases[] = {
      // A connect that needs no binding must not cost a call into the lower
      // provider: that is most connects of every activated program.
      {"activated", "1:0", true, Inet4(far), false, 1, 0, {}},
      {"activated, IPv4-mapped", "1:0", true, Mapped6(far), false, 1, 0, {}},
      {"activated, forced binding, unbound", "1:1", true, Inet4(far), false, 1, 1, {16}},
      {"activated, forced binding, mapped", "1:1", true, Mapped6(far), false, 1, 1, {28}},
      {"activated, forced binding, already bound", "1:1", true, Inet4(far), true, 1, 1, {}},
      {"not activated", "0:1", true, Inet4(far), false, 0, 0, {}},
      {"no tunnel", "1:1", false, Inet4(far), false, 0, 0, {}},
      {"loopback", "1:1", true, Inet4(Ip(127, 0, 0, 1)), false, 0, 0, {}},
      {"the tunnel's own address", "1:1", true, Inet4(Ip(10, 8, 0, 6)), false, 0, 0, {}},
      {"too short to read", "1:1", true, Truncated(Inet4(far), 6), false, 0, 0, {}},
  };
  for (const AgentCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string flags = c.list;
    const std::string list = List(flags.substr(0, 1).c_str(), flags.substr(2, 1).c_str());
    std::vector<std::uint32_t> asked;
    CBindAgent agent(
        std::make_unique<CGrantingChannel>(asked), L"C:\\p.exe",
        [&](const FileIdentity*, FileIdentity& identity, std::string& bytes) {
          identity = FileIdentity{};
          bytes = list;
          return FileReadResult::Read;
        },
        [&] {
          TunnelState t;
          t.up = c.tunnelUp;
          t.localIp = Ip(10, 8, 0, 6);
          t.generation = 1;
          return t;
        });
    CCountingSocket socket;
    socket.bound = c.socketBound;
    agent.BeforeSend(c.destination.data(), c.destination.size(), socket);
    EXPECT_EQ(asked.size(), c.asks);
    if (c.asks) EXPECT_EQ(asked.front(), far);
    EXPECT_EQ(socket.boundQueries, c.boundQueries);
    EXPECT_EQ(socket.bindLengths, c.binds);
  }
}

}  // namespace
