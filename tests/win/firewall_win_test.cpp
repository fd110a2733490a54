// Leak protection's Windows side over a stand-in of the filtering platform:
// the filters each rule becomes, read back through the system headers' own
// records, and what the transactions leave in force. Wine only stubs the
// platform, so nothing else looks at these records before a real system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"
// After <windows.h>.
#include <fwpmu.h>
#undef interface

#include "routing/firewall_win.h"

namespace {

// The records as this architecture's headers lay them out; a wrong size
// here means every filter handed over would be garbage.
constexpr bool k64 = sizeof(void*) == 8;
static_assert(sizeof(FWPM_FILTER0) == (k64 ? 200 : 152));
static_assert(sizeof(FWPM_FILTER_CONDITION0) == (k64 ? 40 : 28));
static_assert(sizeof(FWP_CONDITION_VALUE0) == (k64 ? 16 : 8));
static_assert(sizeof(FWPM_SUBLAYER0) == (k64 ? 72 : 44));

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", static_cast<unsigned long>(g.Data1),
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return text;
}

// Layer and condition names as the platform's documentation spells them.
std::string LayerName(const GUID& g) {
  static const std::map<std::string, std::string> names = {
      {"c38d57d1-05a7-4c33-904f-7fbceee60e82", "connect4"},
      {"4a72393b-319f-44bc-84c3-ba54dcb3b6b4", "connect6"},
      {"e1cd9fe7-f4b5-4273-96c0-592e487b8650", "accept4"},
      {"a3b42c97-9f04-4672-b87e-cee9c483257f", "accept6"},
  };
  auto it = names.find(GuidText(g));
  return it == names.end() ? "?" + GuidText(g) : it->second;
}

std::string ConditionText(const FWPM_FILTER_CONDITION0& c) {
  static const std::map<std::string, std::string> fields = {
      {"b235ae9a-1d64-49b8-a44c-5ff3d9095045", "addr"},  {"c35a604d-d22b-4e1a-91b4-68f674ee674b", "rport"},
      {"0c1ba1af-5765-453f-af22-a8f791ac775b", "lport"}, {"3971ef2b-623e-4f9a-8cb1-6e79b806b9a7", "proto"},
      {"667fd755-d695-434a-8af5-d3835a1259bc", "if"},    {"632ce23b-5167-435c-86d7-e903684aa80c", "flags"},
  };
  auto it = fields.find(GuidText(c.fieldKey));
  std::string out = it == fields.end() ? "?" : it->second;
  switch (c.matchType) {
    case FWP_MATCH_EQUAL: out += "="; break;
    case FWP_MATCH_NOT_EQUAL: out += "!="; break;
    case FWP_MATCH_FLAGS_ALL_SET: out += "&"; break;
    case FWP_MATCH_FLAGS_NONE_SET: out += "!&"; break;
    default: out += "?"; break;
  }
  const FWP_CONDITION_VALUE0& v = c.conditionValue;
  char text[80] = "";
  switch (v.type) {
    case FWP_UINT8: std::snprintf(text, sizeof text, "%u", v.uint8); break;
    case FWP_UINT16: std::snprintf(text, sizeof text, "%u", v.uint16); break;
    case FWP_UINT32: std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(v.uint32)); break;
    case FWP_V4_ADDR_MASK: {
      UINT32 a = v.v4AddrMask->addr, m = v.v4AddrMask->mask;
      std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu/%08lx", (unsigned long)(a >> 24), (unsigned long)((a >> 16) & 255),
                    (unsigned long)((a >> 8) & 255), (unsigned long)(a & 255), (unsigned long)m);
      break;
    }
    case FWP_V6_ADDR_MASK: {
      const UINT8* a = v.v6AddrMask->addr;
      std::snprintf(text, sizeof text, "%02x%02x:%02x%02x..%02x/%u", a[0], a[1], a[2], a[3], a[15],
                    v.v6AddrMask->prefixLength);
      break;
    }
    default: std::snprintf(text, sizeof text, "type%d", static_cast<int>(v.type)); break;
  }
  return out + text;
}

// What the stand-in keeps of one filter.
struct Kept {
  UINT64 id = 0;
  std::string layer;
  GUID subLayer{};
  UINT32 flags = 0;
  UINT64 weight = 0;
  UINT32 action = 0;
  std::string conditions;  // sorted, space-separated
  HANDLE session = nullptr;
};

// The platform as the tests see it: one engine state, transactions that
// snapshot and restore it, dynamic sessions whose filters go with them.
struct Platform {
  std::vector<Kept> filters;
  std::vector<Kept> snapshot;
  bool inTransaction = false;
  std::map<HANDLE, UINT32> sessions;  // open ones and their flags
  int opened = 0;
  UINT64 nextId = 100;
  bool subLayerKnown = false;
  FWPM_SUBLAYER0 subLayer{};
  GUID subLayerKey{};
  int adds = 0;
  int failAdd = -1;  // the add (from 0) that fails
  bool failBegin = false, failCommit = false;
  int aborts = 0;
  std::vector<FWPM_FILTER0> enumRecords;
  std::vector<FWPM_FILTER0*> enumPointers;
  GUID enumLayer{};
};
Platform g;

DWORD WINAPI FakeOpen(const wchar_t*, UINT32, SEC_WINNT_AUTH_IDENTITY_W*, const FWPM_SESSION0* s, HANDLE* h) {
  *h = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(++g.opened));
  g.sessions[*h] = s ? s->flags : 0;
  return 0;
}
DWORD WINAPI FakeClose(HANDLE h) {
  if (g.sessions[h] & 1) {
    g.filters.erase(std::remove_if(g.filters.begin(), g.filters.end(), [&](const Kept& k) { return k.session == h; }),
                    g.filters.end());
  }
  g.sessions.erase(h);
  return 0;
}
DWORD WINAPI FakeBegin(HANDLE, UINT32) {
  if (g.failBegin) return 0x8032000D;
  g.snapshot = g.filters;
  g.inTransaction = true;
  return 0;
}
DWORD WINAPI FakeCommit(HANDLE) {
  if (g.failCommit) return 0x80320017;
  g.inTransaction = false;
  return 0;
}
DWORD WINAPI FakeAbort(HANDLE) {
  g.filters = g.snapshot;
  g.inTransaction = false;
  ++g.aborts;
  return 0;
}
// A dynamic session cannot make anything that outlives it.
constexpr DWORD kDynamicSessionInProgress = 0x8032000B;
DWORD WINAPI FakeProviderAdd(HANDLE h, const FWPM_PROVIDER0* p, PSECURITY_DESCRIPTOR) {
  return (g.sessions[h] & 1) && (p->flags & 1) ? kDynamicSessionInProgress : 0;
}
DWORD WINAPI FakeSubLayerAdd(HANDLE h, const FWPM_SUBLAYER0* s, PSECURITY_DESCRIPTOR) {
  if ((g.sessions[h] & 1) && (s->flags & 1)) return kDynamicSessionInProgress;
  if (g.subLayerKnown && std::memcmp(&s->subLayerKey, &g.subLayerKey, sizeof(GUID)) == 0) return 0x80320009;
  g.subLayer = *s;
  g.subLayerKey = s->subLayerKey;
  g.subLayerKnown = true;
  return 0;
}
DWORD WINAPI FakeFilterAdd(HANDLE h, const FWPM_FILTER0* f, PSECURITY_DESCRIPTOR, UINT64* id) {
  if (!g.inTransaction) return 0x80320010;
  if (g.adds++ == g.failAdd) return 0x80320025;
  if ((g.sessions[h] & 1) && (f->flags & 1)) return kDynamicSessionInProgress;
  Kept k;
  k.id = g.nextId++;
  k.layer = LayerName(f->layerKey);
  k.subLayer = f->subLayerKey;
  k.flags = f->flags;
  k.weight = f->weight.type == FWP_UINT64 ? *f->weight.uint64 : 0xdead;
  k.action = f->action.type;
  std::vector<std::string> parts;
  for (UINT32 i = 0; i < f->numFilterConditions; ++i) parts.push_back(ConditionText(f->filterCondition[i]));
  std::sort(parts.begin(), parts.end());
  for (const std::string& p : parts) k.conditions += (k.conditions.empty() ? "" : " ") + p;
  k.session = h;
  if (id) *id = k.id;
  g.filters.push_back(k);
  return 0;
}
DWORD WINAPI FakeDelete(HANDLE, UINT64 id) {
  auto it = std::find_if(g.filters.begin(), g.filters.end(), [&](const Kept& k) { return k.id == id; });
  if (it == g.filters.end()) return 0x80320003;
  g.filters.erase(it);
  return 0;
}
DWORD WINAPI FakeEnumOpen(HANDLE, const FWPM_FILTER_ENUM_TEMPLATE0* t, HANDLE* h) {
  g.enumLayer = t->layerKey;
  *h = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7000));
  return 0;
}
DWORD WINAPI FakeEnum(HANDLE, HANDLE, UINT32, FWPM_FILTER0*** entries, UINT32* got) {
  g.enumRecords.clear();
  g.enumPointers.clear();
  for (const Kept& k : g.filters) {
    if (k.layer != LayerName(g.enumLayer)) continue;
    FWPM_FILTER0 r{};
    r.filterId = k.id;
    r.subLayerKey = k.subLayer;
    g.enumRecords.push_back(r);
  }
  for (FWPM_FILTER0& r : g.enumRecords) g.enumPointers.push_back(&r);
  *entries = g.enumPointers.empty() ? nullptr : g.enumPointers.data();
  *got = static_cast<UINT32>(g.enumPointers.size());
  // Handed out once: the next call finds the end.
  g.enumLayer = GUID{};
  return 0;
}
DWORD WINAPI FakeEnumClose(HANDLE, HANDLE) { return 0; }
void WINAPI FakeFree(void** p) { *p = nullptr; }

void* Lookup(const char* name) {
  static const std::map<std::string, void*> table = {
      {"FwpmEngineOpen0", reinterpret_cast<void*>(&FakeOpen)},
      {"FwpmEngineClose0", reinterpret_cast<void*>(&FakeClose)},
      {"FwpmTransactionBegin0", reinterpret_cast<void*>(&FakeBegin)},
      {"FwpmTransactionCommit0", reinterpret_cast<void*>(&FakeCommit)},
      {"FwpmTransactionAbort0", reinterpret_cast<void*>(&FakeAbort)},
      {"FwpmProviderAdd0", reinterpret_cast<void*>(&FakeProviderAdd)},
      {"FwpmSubLayerAdd0", reinterpret_cast<void*>(&FakeSubLayerAdd)},
      {"FwpmFilterAdd0", reinterpret_cast<void*>(&FakeFilterAdd)},
      {"FwpmFilterDeleteById0", reinterpret_cast<void*>(&FakeDelete)},
      {"FwpmFilterCreateEnumHandle0", reinterpret_cast<void*>(&FakeEnumOpen)},
      {"FwpmFilterEnum0", reinterpret_cast<void*>(&FakeEnum)},
      {"FwpmFilterDestroyEnumHandle0", reinterpret_cast<void*>(&FakeEnumClose)},
      {"FwpmFreeMemory0", reinterpret_cast<void*>(&FakeFree)},
  };
  auto it = table.find(name);
  return it == table.end() ? nullptr : it->second;
}

class WfpFirewall : public ::testing::Test {
 protected:
  void SetUp() override { g = Platform{}; }
  std::unique_ptr<IFirewall> Make() { return CreateWfpFirewallOver(Lookup); }
};

FirewallRule Rule(FirewallAction action, FirewallInterface where, int family, FirewallProtocol protocol = FirewallProtocol::Any,
                  const char* remote = nullptr, std::uint16_t remotePort = 0, std::uint16_t localPort = 0) {
  FirewallRule r;
  r.action = action;
  r.interface = where;
  r.family = family;
  r.protocol = protocol;
  if (remote) {
    r.hasRemote = ParseIpNetwork(remote, r.remote);
    r.family = r.remote.address.family;
  }
  r.remotePort = remotePort;
  r.localPort = localPort;
  return r;
}

FirewallRuleSet Set(FirewallPhase phase, std::vector<FirewallRule> rules, std::uint32_t tunnel = 7, std::uint32_t physical = 0) {
  FirewallRuleSet s;
  s.phase = phase;
  s.tunnelIfIndex = tunnel;
  s.physicalIfIndex = physical;
  s.rules = std::move(rules);
  return s;
}

std::string Describe(const std::vector<Kept>& filters) {
  std::string out;
  for (const Kept& k : filters) {
    out += k.layer + (k.action == FWP_ACTION_PERMIT ? " permit" : k.action == FWP_ACTION_BLOCK ? " block" : " ?");
    if (!k.conditions.empty()) out += " " + k.conditions;
    out += "; ";
  }
  return out;
}

constexpr auto P = FirewallAction::Permit;
constexpr auto B = FirewallAction::Block;

TEST_F(WfpFirewall, EachRuleBecomesItsFilters) {
  struct Case {
    const char* name;
    FirewallRule rule;
    std::uint32_t tunnel, physical;
    const char* filters;
  };
  const Case cases[] = {
      {"tunnel, both families", Rule(P, FirewallInterface::Tunnel, 0), 7, 0,
       "connect4 permit if=7; accept4 permit if=7; connect6 permit if=7; accept6 permit if=7; "},
      {"tunnel unknown: nothing", Rule(P, FirewallInterface::Tunnel, 0), 0, 0, ""},
      {"loopback", Rule(P, FirewallInterface::Loopback, 4), 7, 0, "connect4 permit flags&1; accept4 permit flags&1; "},
      {"physical by elimination", Rule(P, FirewallInterface::Physical, 4, FirewallProtocol::Udp, nullptr, 67, 68), 7, 0,
       "connect4 permit flags!&1 if!=7 lport=68 proto=17 rport=67; accept4 permit flags!&1 if!=7 lport=68 proto=17 rport=67; "},
      {"physical named", Rule(P, FirewallInterface::Physical, 6), 7, 3, "connect6 permit if=3; accept6 permit if=3; "},
      {"server endpoint", Rule(P, FirewallInterface::Any, 0, FirewallProtocol::Udp, "203.0.113.5", 1194), 7, 0,
       "connect4 permit addr=203.0.113.5/ffffffff proto=17 rport=1194; accept4 permit addr=203.0.113.5/ffffffff proto=17 "
       "rport=1194; "},
      {"local network", Rule(P, FirewallInterface::Physical, 0, FirewallProtocol::Any, "192.168.1.77/24"), 7, 4,
       "connect4 permit addr=192.168.1.0/ffffff00 if=4; accept4 permit addr=192.168.1.0/ffffff00 if=4; "},
      {"link-local v6 icmp", Rule(P, FirewallInterface::Any, 0, FirewallProtocol::Icmp, "fe80::/10"), 7, 0,
       "connect6 permit addr=fe80:0000..00/10 proto=58; accept6 permit addr=fe80:0000..00/10 proto=58; "},
      {"icmp v4", Rule(B, FirewallInterface::Any, 4, FirewallProtocol::Icmp), 7, 0, "connect4 block proto=1; accept4 block proto=1; "},
      {"dns elsewhere, tcp", Rule(B, FirewallInterface::Any, 0, FirewallProtocol::Tcp, nullptr, 53), 7, 0,
       "connect4 block proto=6 rport=53; accept4 block proto=6 rport=53; connect6 block proto=6 rport=53; accept6 block "
       "proto=6 rport=53; "},
      {"ipv6 blocked", Rule(B, FirewallInterface::Any, 6), 7, 0, "connect6 block; accept6 block; "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g = Platform{};
    auto firewall = Make();
    ASSERT_EQ(firewall->Apply(Set(FirewallPhase::Connected, {c.rule}, c.tunnel, c.physical)), 0u) << firewall->LastError();
    EXPECT_EQ(Describe(g.filters), c.filters);
  }
}

TEST_F(WfpFirewall, PhaseDecidesSessionPersistenceAndEarlierRulesWeighMore) {
  struct Case {
    FirewallPhase phase;
    bool persistent;
  };
  const Case cases[] = {
      {FirewallPhase::Connected, false},
      {FirewallPhase::Connecting, true},
      {FirewallPhase::Dropped, true},
      {FirewallPhase::Reconnecting, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.phase));
    g = Platform{};
    auto firewall = Make();
    FirewallRuleSet set = Set(c.phase, {Rule(P, FirewallInterface::Tunnel, 0), Rule(P, FirewallInterface::Loopback, 0),
                                        Rule(B, FirewallInterface::Any, 0)});
    ASSERT_EQ(firewall->Apply(set), 0u) << firewall->LastError();
    ASSERT_EQ(g.filters.size(), 12u);
    for (const Kept& k : g.filters) {
      EXPECT_EQ(k.flags & 1, c.persistent ? 1u : 0u) << k.layer;
      EXPECT_EQ(g.sessions.at(k.session) & 1, c.persistent ? 0u : 1u) << "session flags";
      EXPECT_EQ(std::memcmp(&k.subLayer, &g.subLayerKey, sizeof(GUID)), 0);
    }
    // Within each layer the permits must outweigh the block, in rule order.
    for (const char* layer : {"connect4", "accept4", "connect6", "accept6"}) {
      std::vector<std::pair<UINT64, UINT32>> seen;
      for (const Kept& k : g.filters)
        if (k.layer == layer) seen.push_back({k.weight, k.action});
      ASSERT_EQ(seen.size(), 3u) << layer;
      EXPECT_GT(seen[0].first, seen[1].first) << layer;
      EXPECT_GT(seen[1].first, seen[2].first) << layer;
      EXPECT_EQ(seen[2].second, static_cast<UINT32>(FWP_ACTION_BLOCK)) << layer;
    }
    EXPECT_EQ(g.subLayer.flags & 1, 1u) << "the sublayer must outlive a crash too";
  }
}

TEST_F(WfpFirewall, FailureLeavesTheOldSetInForce) {
  struct Case {
    const char* name;
    int failAdd;
    bool failBegin, failCommit;
  };
  const Case cases[] = {
      {"first add", 0, false, false},
      {"add midway", 3, false, false},
      {"last add", 5, false, false},
      {"begin", -1, true, false},
      {"commit", -1, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g = Platform{};
    auto firewall = Make();
    ASSERT_EQ(firewall->Apply(Set(FirewallPhase::Connecting, {Rule(B, FirewallInterface::Any, 0)})), 0u);
    const std::string before = Describe(g.filters);
    g.adds = 0;
    g.failAdd = c.failAdd;
    g.failBegin = c.failBegin;
    g.failCommit = c.failCommit;
    FirewallRuleSet next = Set(FirewallPhase::Dropped, {Rule(P, FirewallInterface::Tunnel, 0), Rule(P, FirewallInterface::Loopback, 4),
                                                      Rule(B, FirewallInterface::Any, 4)});
    EXPECT_NE(firewall->Apply(next), 0u);
    EXPECT_FALSE(firewall->LastError().empty());
    EXPECT_EQ(Describe(g.filters), before);
    EXPECT_FALSE(g.inTransaction && !c.failCommit) << "a transaction left open";
  }
}

TEST_F(WfpFirewall, ReplacesAcrossSessionsAndRemovesAPreviousRunsFilters) {
  // Someone else's filter at the same layer must survive all of it.
  {
    auto other = Make();
    g.adds = 0;
    FakeBegin(nullptr, 0);
    FWPM_FILTER0 foreign{};
    foreign.layerKey = {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
    foreign.action.type = FWP_ACTION_PERMIT;
    foreign.weight.type = FWP_EMPTY;
    FakeFilterAdd(nullptr, &foreign, nullptr, nullptr);
    FakeCommit(nullptr);
  }
  const std::string foreignOnly = Describe(g.filters);
  {
    auto run = Make();
    ASSERT_EQ(run->Apply(Set(FirewallPhase::Connected, {Rule(B, FirewallInterface::Any, 6)})), 0u);
    ASSERT_EQ(run->Apply(Set(FirewallPhase::Dropped, {Rule(B, FirewallInterface::Any, 4)})), 0u);
    EXPECT_EQ(Describe(g.filters), foreignOnly + "connect4 block; accept4 block; ") << "the connected set stayed";
    // The run ends without Remove, as a crash would.
  }
  EXPECT_EQ(Describe(g.filters), foreignOnly + "connect4 block; accept4 block; ") << "the block went with the process";
  auto next = Make();
  EXPECT_TRUE(next->Present());
  EXPECT_EQ(next->Remove(), 0u) << next->LastError();
  EXPECT_EQ(Describe(g.filters), foreignOnly);
  EXPECT_FALSE(next->Present());
  EXPECT_EQ(next->Remove(), 0u) << "nothing to remove is no failure";
  // An empty set is Remove.
  ASSERT_EQ(next->Apply(Set(FirewallPhase::Connected, {Rule(B, FirewallInterface::Any, 0)})), 0u);
  EXPECT_EQ(next->Apply(Set(FirewallPhase::Off, {})), 0u);
  EXPECT_EQ(Describe(g.filters), foreignOnly);
}

TEST_F(WfpFirewall, MissingPlatformFailsWithoutCrashing) {
  auto firewall = CreateWfpFirewallOver([](const char* name) -> void* {
    return std::string(name) == "FwpmFilterEnum0" ? nullptr : Lookup(name);
  });
  EXPECT_NE(firewall->Apply(Set(FirewallPhase::Dropped, {Rule(B, FirewallInterface::Any, 0)})), 0u);
  EXPECT_NE(firewall->Remove(), 0u);
  EXPECT_FALSE(firewall->Present());
  EXPECT_TRUE(g.filters.empty());
  EXPECT_EQ(g.opened, 0);
}

}  // namespace
