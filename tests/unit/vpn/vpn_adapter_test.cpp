#include "vpn/vpn_adapter.h"

#include <gtest/gtest.h>

#include "fakes/fake_machine_registry.h"
#include "text/text_table.h"

namespace {

using List = std::vector<std::wstring>;

TEST(VpnBinding, WanAdapterGoesFirstOnceOnlyOnVersion5) {
  struct Case {
    const char* what;
    std::optional<std::uint32_t> major;
    List before;
    List after;
  } cases[] = {
      {"moved to the front", 5, {L"\\Device\\Tcpip_A", L"\\Device\\NdisWanIp", L"\\Device\\Tcpip_B"},
       {L"\\Device\\NdisWanIp", L"\\Device\\Tcpip_A", L"\\Device\\Tcpip_B"}},
      {"added when missing", 5, {L"\\Device\\Tcpip_A"}, {L"\\Device\\NdisWanIp", L"\\Device\\Tcpip_A"}},
      {"duplicates in any case collapse", 5, {L"\\DEVICE\\ndiswanip", L"\\Device\\Tcpip_A", L"\\Device\\NdisWanIp"},
       {L"\\Device\\NdisWanIp", L"\\Device\\Tcpip_A"}},
      {"an empty list", 5, {}, {L"\\Device\\NdisWanIp"}},
      {"version 6 keeps its list", 6, {L"\\Device\\Tcpip_A", L"\\Device\\NdisWanIp"},
       {L"\\Device\\Tcpip_A", L"\\Device\\NdisWanIp"}},
      {"unknown version", std::nullopt, {L"\\Device\\Tcpip_A"}, {L"\\Device\\Tcpip_A"}},
  };
  for (const Case& c : cases) {
    CFakeMachineRegistry registry;
    registry.Put(kTcpipLinkageKey, L"Bind", c.before);
    PutVpnBindingFirst(registry, c.major);
    EXPECT_EQ(std::get<List>(*registry.Get(kTcpipLinkageKey, L"Bind")), c.after) << c.what;
  }
}

TEST(VpnBinding, AListThatIsNoMultiStringOrAMissingKeyIsLeftAlone) {
  CFakeMachineRegistry registry;
  PutVpnBindingFirst(registry, 5);
  EXPECT_EQ(registry.writes, 0);
  registry.Put(kTcpipLinkageKey, L"Bind", std::wstring(L"\\Device\\Tcpip_A"));
  PutVpnBindingFirst(registry, 5);
  EXPECT_EQ(registry.writes, 0);
}

class CFakeDns : public IDnsCacheSystem {
 public:
  class Library : public IResolverLibrary {
   public:
    Library(CFakeDns& owner) : owner_(owner) {}
    ~Library() override { owner_.log.push_back("release"); }
    std::optional<std::int32_t> Flush() override {
      owner_.log.push_back("flush");
      return owner_.exported ? std::optional<std::int32_t>(owner_.result) : std::nullopt;
    }

   private:
    CFakeDns& owner_;
  };
  std::unique_ptr<IResolverLibrary> LoadResolver() override {
    log.push_back("load");
    return loads ? std::make_unique<Library>(*this) : nullptr;
  }
  void RunFlushCommand() override { log.push_back("ipconfig"); }
  bool loads = true;
  bool exported = true;
  std::int32_t result = 1;
  std::vector<std::string> log;
};

TEST(FlushDns, CallsTheResolverThenTheCommand) {
  using Log = std::vector<std::string>;
  struct Case {
    bool loads, exported;
    std::int32_t rc;
    Log log;
  } cases[] = {
      {true, true, 1, {"load", "flush", "release", "ipconfig"}},
      {true, false, 0, {"load", "flush", "release", "ipconfig"}},
      {false, true, 0, {"load"}},
  };
  for (const Case& c : cases) {
    CFakeDns dns;
    dns.loads = c.loads;
    dns.exported = c.exported;
    EXPECT_EQ(FlushDnsCache(dns), c.rc);
    EXPECT_EQ(dns.log, c.log);
  }
}

class CRecordingView : public IDhcpWarningView {
 public:
  void ShowDhcpWarning(const std::wstring& text) override { events.push_back(L"warn:" + text); }
  void EndConnection() override { events.push_back(L"end"); }
  std::vector<std::wstring> events;
};

TEST(DhcpOnVpn, MatchingNeedsTheAddressAndDhcpOn) {
  struct Case {
    std::optional<std::wstring> address;
    std::optional<std::uint32_t> enable;
    std::wstring localIp;
    bool holds, disable;
  } cases[] = {
      {L"10.8.0.6", 1u, L"10.8.0.6", true, true},   {L"10.8.0.6", 0u, L"10.8.0.6", true, false},
      {L"10.8.0.6", std::nullopt, L"10.8.0.6", true, false}, {L"10.8.0.60", 1u, L"10.8.0.6", false, false},
      {std::nullopt, 1u, L"10.8.0.6", false, false}, {L"", 1u, L"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HoldsVpnAddress(c.address, c.localIp), c.holds);
    EXPECT_EQ(MustDisableDhcp({c.address, c.enable}, c.localIp), c.disable);
  }
}

TEST(DhcpOnVpn, EveryMatchingInterfaceLosesDhcpAndDrawsTheWarning) {
  LoadTextTable();
  const std::wstring base = kTcpipInterfacesKey;
  CFakeMachineRegistry registry;
  registry.AddKey(base);
  registry.Put(base + L"\\{A}", L"DhcpIPAddress", std::wstring(L"10.8.0.6"));
  registry.Put(base + L"\\{A}", L"EnableDHCP", 1u);
  registry.Put(base + L"\\{B}", L"DhcpIPAddress", std::wstring(L"192.168.1.10"));
  registry.Put(base + L"\\{B}", L"EnableDHCP", 1u);
  registry.Put(base + L"\\{C}", L"DhcpIPAddress", std::wstring(L"10.8.0.6"));
  registry.Put(base + L"\\{C}", L"EnableDHCP", 0u);
  registry.Put(base + L"\\{D}", L"DhcpIPAddress", std::wstring(L"10.8.0.6"));
  registry.Put(base + L"\\{D}", L"EnableDHCP", 7u);
  registry.DenyWrites(base + L"\\{D}", L"EnableDHCP");
  registry.Put(base + L"\\{E}", L"DhcpIPAddress", std::wstring(L"10.8.0.6"));
  registry.Put(base + L"\\{E}", L"EnableDHCP", 1u);
  registry.unreadableSubkeys[L"{E}"] = 234;  // its name does not fit
  registry.Put(base + L"\\{F}", L"DhcpIPAddress", 5u);
  registry.Put(base + L"\\{F}", L"EnableDHCP", 1u);
  registry.Put(base + L"\\{G}", L"DhcpIPAddress", std::wstring(L"10.8.0.6"));
  registry.Put(base + L"\\{G}", L"EnableDHCP", 1u);

  CRecordingView view;
  EXPECT_EQ(DisableDhcpOnVpnAdapter(registry, view, L"10.8.0.6"), 3);
  const std::wstring warning = L"warn:DHCP on your VPN device was detected! It will cause connection failure. The "
                               L"DHCP on VPN will be disabled automatically and please re-login";
  EXPECT_EQ(view.events, (std::vector<std::wstring>{warning, L"end", warning, L"end", warning, L"end"}));
  EXPECT_EQ(registry.Dword(base + L"\\{A}", L"EnableDHCP"), 0u);
  EXPECT_EQ(registry.Dword(base + L"\\{B}", L"EnableDHCP"), 1u);
  EXPECT_EQ(registry.Dword(base + L"\\{D}", L"EnableDHCP"), 7u);  // the write failed, the warning came anyway
  EXPECT_EQ(registry.Dword(base + L"\\{E}", L"EnableDHCP"), 1u);
  EXPECT_EQ(registry.Dword(base + L"\\{F}", L"EnableDHCP"), 1u);
  EXPECT_EQ(registry.Dword(base + L"\\{G}", L"EnableDHCP"), 0u);

  CFakeMachineRegistry empty;
  EXPECT_EQ(DisableDhcpOnVpnAdapter(empty, view, L"10.8.0.6"), 0);
}

}  // namespace
