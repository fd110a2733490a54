#include "routing/firewall_win.h"

#include "platform/win32.h"
// After <windows.h>.
#include <fwpmu.h>
// <objbase.h> makes "interface" a keyword; our rules have a field of that name.
#undef interface

#include <cstdio>
#include <cstring>
#include <type_traits>
#include <mutex>
#include <vector>

namespace {

// MinGW's headers declare the functions but not these; values as the
// platform documents them.
constexpr GUID kLayerConnectV4 = {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
constexpr GUID kLayerConnectV6 = {0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
constexpr GUID kLayerRecvAcceptV4 = {0xe1cd9fe7, 0xf4b5, 0x4273, {0x96, 0xc0, 0x59, 0x2e, 0x48, 0x7b, 0x86, 0x50}};
constexpr GUID kLayerRecvAcceptV6 = {0xa3b42c97, 0x9f04, 0x4672, {0xb8, 0x7e, 0xce, 0xe9, 0xc4, 0x83, 0x25, 0x7f}};
constexpr GUID kConditionRemoteAddress = {0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};
constexpr GUID kConditionRemotePort = {0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};
constexpr GUID kConditionLocalPort = {0x0c1ba1af, 0x5765, 0x453f, {0xaf, 0x22, 0xa8, 0xf7, 0x91, 0xac, 0x77, 0x5b}};
constexpr GUID kConditionProtocol = {0x3971ef2b, 0x623e, 0x4f9a, {0x8c, 0xb1, 0x6e, 0x79, 0xb8, 0x06, 0xb9, 0xa7}};
constexpr GUID kConditionInterfaceIndex = {0x667fd755, 0xd695, 0x434a, {0x8a, 0xf5, 0xd3, 0x83, 0x5a, 0x12, 0x59, 0xbc}};
constexpr GUID kConditionFlags = {0x632ce23b, 0x5167, 0x435c, {0x86, 0xd7, 0xe9, 0x03, 0x68, 0x4a, 0xa8, 0x0c}};
constexpr UINT32 kSessionDynamic = 0x1;
constexpr UINT32 kObjectPersistent = 0x1;  // provider, sublayer and filter flag alike
constexpr UINT32 kFlagIsLoopback = 0x1;
constexpr DWORD kAlreadyExists = 0x80320009;

// Ours, made once: every filter of ours hangs in this sublayer.
GUID ProviderKey() { return {0xf046529c, 0xa452, 0x4a42, {0x89, 0x86, 0xf9, 0x64, 0x38, 0x16, 0x83, 0xc3}}; }
GUID SubLayerKey() { return {0x1164eaba, 0xd98f, 0x4e40, {0x90, 0xe2, 0xdb, 0x5f, 0xdb, 0xf5, 0x0b, 0xbf}}; }

struct WfpApi {
  decltype(&FwpmEngineOpen0) engineOpen = nullptr;
  decltype(&FwpmEngineClose0) engineClose = nullptr;
  decltype(&FwpmTransactionBegin0) begin = nullptr;
  decltype(&FwpmTransactionCommit0) commit = nullptr;
  decltype(&FwpmTransactionAbort0) abort = nullptr;
  decltype(&FwpmProviderAdd0) providerAdd = nullptr;
  decltype(&FwpmSubLayerAdd0) subLayerAdd = nullptr;
  decltype(&FwpmFilterAdd0) filterAdd = nullptr;
  decltype(&FwpmFilterDeleteById0) filterDelete = nullptr;
  decltype(&FwpmFilterCreateEnumHandle0) enumOpen = nullptr;
  decltype(&FwpmFilterEnum0) enumNext = nullptr;
  decltype(&FwpmFilterDestroyEnumHandle0) enumClose = nullptr;
  decltype(&FwpmFreeMemory0) freeMemory = nullptr;

  bool Load(const WfpFunctionLookup& lookup) {
    auto get = [&](auto& slot, const char* name) {
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(lookup ? lookup(name) : nullptr);
      return slot != nullptr;
    };
    bool ok = true;
    ok &= get(engineOpen, "FwpmEngineOpen0");
    ok &= get(engineClose, "FwpmEngineClose0");
    ok &= get(begin, "FwpmTransactionBegin0");
    ok &= get(commit, "FwpmTransactionCommit0");
    ok &= get(abort, "FwpmTransactionAbort0");
    ok &= get(providerAdd, "FwpmProviderAdd0");
    ok &= get(subLayerAdd, "FwpmSubLayerAdd0");
    ok &= get(filterAdd, "FwpmFilterAdd0");
    ok &= get(filterDelete, "FwpmFilterDeleteById0");
    ok &= get(enumOpen, "FwpmFilterCreateEnumHandle0");
    ok &= get(enumNext, "FwpmFilterEnum0");
    ok &= get(enumClose, "FwpmFilterDestroyEnumHandle0");
    ok &= get(freeMemory, "FwpmFreeMemory0");
    return ok;
  }
};

// One rule at one layer, with the storage its conditions point into.
struct FilterBuild {
  GUID layer{};
  std::vector<FWPM_FILTER_CONDITION0> conditions;
  FWP_V4_ADDR_AND_MASK v4{};
  FWP_V6_ADDR_AND_MASK v6{};
  UINT64 weight = 0;
  UINT32 action = FWP_ACTION_BLOCK;
};

FWPM_FILTER_CONDITION0 Condition(const GUID& field, FWP_MATCH_TYPE match) {
  FWPM_FILTER_CONDITION0 c{};
  c.fieldKey = field;
  c.matchType = match;
  return c;
}

// False when the rule names an interface the set does not: such a rule
// matches nothing, so leaving it out keeps the meaning.
bool AddInterface(const FirewallRule& rule, const FirewallRuleSet& set, FilterBuild& f) {
  auto index = [&](UINT32 value, FWP_MATCH_TYPE match) {
    FWPM_FILTER_CONDITION0 c = Condition(kConditionInterfaceIndex, match);
    c.conditionValue.type = FWP_UINT32;
    c.conditionValue.uint32 = value;
    f.conditions.push_back(c);
  };
  auto loopback = [&](FWP_MATCH_TYPE match) {
    FWPM_FILTER_CONDITION0 c = Condition(kConditionFlags, match);
    c.conditionValue.type = FWP_UINT32;
    c.conditionValue.uint32 = kFlagIsLoopback;
    f.conditions.push_back(c);
  };
  switch (rule.interface) {
    case FirewallInterface::Any:
      return true;
    case FirewallInterface::Loopback:
      loopback(FWP_MATCH_FLAGS_ALL_SET);
      return true;
    case FirewallInterface::Tunnel:
      if (!set.tunnelIfIndex) return false;
      index(set.tunnelIfIndex, FWP_MATCH_EQUAL);
      return true;
    case FirewallInterface::Physical:
      if (set.physicalIfIndex) {
        index(set.physicalIfIndex, FWP_MATCH_EQUAL);
      } else {
        loopback(FWP_MATCH_FLAGS_NONE_SET);
        if (set.tunnelIfIndex) index(set.tunnelIfIndex, FWP_MATCH_NOT_EQUAL);
      }
      return true;
  }
  return false;
}

// The filters one rule becomes: one per layer it is about, connect for what
// leaves and receive-accept for what arrives, the peer as "remote" in both.
void BuildFilters(const FirewallRule& rule, const FirewallRuleSet& set, UINT64 weight, std::vector<FilterBuild>& out) {
  int family = rule.hasRemote ? rule.remote.address.family : rule.family;
  for (int f : {4, 6}) {
    if (family != 0 && family != f) continue;
    for (bool inbound : {false, true}) {
      FilterBuild b;
      b.layer = f == 4 ? (inbound ? kLayerRecvAcceptV4 : kLayerConnectV4) : (inbound ? kLayerRecvAcceptV6 : kLayerConnectV6);
      b.weight = weight;
      b.action = rule.action == FirewallAction::Permit ? FWP_ACTION_PERMIT : FWP_ACTION_BLOCK;
      if (!AddInterface(rule, set, b)) return;
      if (rule.hasRemote) {
        // The pointer is set when the filter is handed over: the vector moves.
        FWPM_FILTER_CONDITION0 c = Condition(kConditionRemoteAddress, FWP_MATCH_EQUAL);
        const auto& bytes = rule.remote.address.bytes;
        if (f == 4) {
          c.conditionValue.type = FWP_V4_ADDR_MASK;
          b.v4.addr = (UINT32(bytes[0]) << 24) | (UINT32(bytes[1]) << 16) | (UINT32(bytes[2]) << 8) | bytes[3];
          int length = rule.remote.prefixLength < 0 ? 0 : rule.remote.prefixLength > 32 ? 32 : rule.remote.prefixLength;
          b.v4.mask = length == 0 ? 0 : UINT32(0xffffffffu << (32 - length));
          b.v4.addr &= b.v4.mask;
        } else {
          c.conditionValue.type = FWP_V6_ADDR_MASK;
          std::memcpy(b.v6.addr, bytes.data(), 16);
          int length = rule.remote.prefixLength < 0 ? 0 : rule.remote.prefixLength > 128 ? 128 : rule.remote.prefixLength;
          b.v6.prefixLength = UINT8(length);
        }
        b.conditions.push_back(c);
      }
      if (rule.protocol != FirewallProtocol::Any) {
        FWPM_FILTER_CONDITION0 c = Condition(kConditionProtocol, FWP_MATCH_EQUAL);
        c.conditionValue.type = FWP_UINT8;
        c.conditionValue.uint8 = rule.protocol == FirewallProtocol::Tcp   ? 6
                                 : rule.protocol == FirewallProtocol::Udp ? 17
                                 : f == 4                                 ? 1
                                                                          : 58;
        b.conditions.push_back(c);
        bool ported = rule.protocol == FirewallProtocol::Tcp || rule.protocol == FirewallProtocol::Udp;
        if (ported && rule.remotePort) {
          FWPM_FILTER_CONDITION0 p = Condition(kConditionRemotePort, FWP_MATCH_EQUAL);
          p.conditionValue.type = FWP_UINT16;
          p.conditionValue.uint16 = rule.remotePort;
          b.conditions.push_back(p);
        }
        if (ported && rule.localPort) {
          FWPM_FILTER_CONDITION0 p = Condition(kConditionLocalPort, FWP_MATCH_EQUAL);
          p.conditionValue.type = FWP_UINT16;
          p.conditionValue.uint16 = rule.localPort;
          b.conditions.push_back(p);
        }
      }
      out.push_back(std::move(b));
    }
  }
}

wchar_t kName[] = L"Quillnet leak protection";

class CWfpFirewall : public IFirewall {
 public:
  explicit CWfpFirewall(const WfpFunctionLookup& lookup) { loaded_ = api_.Load(lookup); }
  ~CWfpFirewall() override {
    // Closing the dynamic session takes its filters with it; the persistent
    // ones stay until Remove, so a crash or a quit while dropped stays closed.
    if (dynamic_) api_.engineClose(dynamic_);
    if (persistent_) api_.engineClose(persistent_);
  }

  std::uint32_t Apply(const FirewallRuleSet& rules) override {
    if (rules.rules.empty()) return Remove();
    std::lock_guard<std::mutex> lock(mutex_);
    // Only the connected state may vanish with the process; every other
    // phase with rules is a block that must outlive it.
    bool keep = rules.phase != FirewallPhase::Connected;
    // The sublayer outlives us, so a dynamic session cannot make it: the
    // other session does, on its own (an empty sublayer blocks nothing).
    HANDLE engine = nullptr;
    if (DWORD rc = Open(persistent_, false, engine)) return rc;
    if (DWORD rc = EnsureSubLayer(engine)) return Fail("add our sublayer", rc);
    if (!keep) {
      if (DWORD rc = Open(dynamic_, true, engine)) return rc;
    }

    std::vector<FilterBuild> filters;
    UINT64 count = rules.rules.size();
    for (std::size_t i = 0; i < rules.rules.size(); ++i) {
      // The first rule that matches decides: earlier rules weigh more.
      BuildFilters(rules.rules[i], rules, count - i, filters);
    }
    if (DWORD rc = api_.begin(engine, 0)) return Fail("begin a transaction", rc);
    DWORD rc = DeleteOurs(engine, nullptr);
    for (FilterBuild& b : filters) {
      if (rc) break;
      rc = AddFilter(engine, b, keep);
    }
    if (!rc) rc = api_.commit(engine);
    if (rc) {
      api_.abort(engine);
      return Fail("put the rules in force", rc);
    }
    // Whatever the other session held was deleted in the same transaction.
    return 0;
  }

  std::uint32_t Remove() override {
    std::lock_guard<std::mutex> lock(mutex_);
    HANDLE engine = nullptr;
    if (DWORD rc = Open(persistent_, false, engine)) return rc;
    if (DWORD rc = api_.begin(engine, 0)) return Fail("begin a transaction", rc);
    DWORD rc = DeleteOurs(engine, nullptr);
    if (!rc) rc = api_.commit(engine);
    if (rc) {
      api_.abort(engine);
      return Fail("remove the rules", rc);
    }
    if (dynamic_) {
      api_.engineClose(dynamic_);
      dynamic_ = nullptr;
    }
    return 0;
  }

  bool Present() override {
    std::lock_guard<std::mutex> lock(mutex_);
    HANDLE engine = nullptr;
    if (Open(persistent_, false, engine)) return false;
    std::size_t found = 0;
    return DeleteOurs(engine, &found) == 0 && found > 0;
  }

  std::string LastError() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
  }

 private:
  DWORD Fail(const char* what, DWORD rc) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(rc));
    lastError_ = std::string("could not ") + what + " (" + code + ")";
    return rc;
  }

  DWORD Open(HANDLE& slot, bool dynamic, HANDLE& engine) {
    if (!loaded_) return Fail("find the filtering platform", ERROR_PROC_NOT_FOUND);
    if (!slot) {
      FWPM_SESSION0 session{};
      session.displayData.name = kName;
      session.flags = dynamic ? kSessionDynamic : 0;
      session.txnWaitTimeoutInMSec = 10000;
      DWORD rc = api_.engineOpen(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &slot);
      if (rc) {
        slot = nullptr;
        return Fail("open the filtering engine", rc);
      }
    }
    engine = slot;
    return 0;
  }

  DWORD EnsureSubLayer(HANDLE engine) {
    GUID provider = ProviderKey();
    FWPM_PROVIDER0 p{};
    p.providerKey = provider;
    p.displayData.name = kName;
    p.flags = kObjectPersistent;
    DWORD rc = api_.providerAdd(engine, &p, nullptr);
    if (rc && rc != kAlreadyExists) return rc;
    FWPM_SUBLAYER0 s{};
    s.subLayerKey = SubLayerKey();
    s.displayData.name = kName;
    s.flags = kObjectPersistent;
    s.providerKey = &provider;
    s.weight = 0xffff;
    rc = api_.subLayerAdd(engine, &s, nullptr);
    return rc == kAlreadyExists ? 0 : rc;
  }

  DWORD AddFilter(HANDLE engine, FilterBuild& b, bool keep) {
    GUID provider = ProviderKey();
    for (FWPM_FILTER_CONDITION0& c : b.conditions) {
      if (c.conditionValue.type == FWP_V4_ADDR_MASK) c.conditionValue.v4AddrMask = &b.v4;
      if (c.conditionValue.type == FWP_V6_ADDR_MASK) c.conditionValue.v6AddrMask = &b.v6;
    }
    FWPM_FILTER0 filter{};
    filter.displayData.name = kName;
    filter.flags = keep ? kObjectPersistent : 0;
    filter.providerKey = &provider;
    filter.layerKey = b.layer;
    filter.subLayerKey = SubLayerKey();
    filter.weight.type = FWP_UINT64;
    filter.weight.uint64 = &b.weight;
    filter.numFilterConditions = static_cast<UINT32>(b.conditions.size());
    filter.filterCondition = b.conditions.empty() ? nullptr : b.conditions.data();
    filter.action.type = b.action;
    UINT64 id = 0;
    return api_.filterAdd(engine, &filter, nullptr, &id);
  }

  // Deletes every filter in our sublayer, a previous run's and the other
  // session's included; with `count`, only counts them.
  DWORD DeleteOurs(HANDLE engine, std::size_t* count) {
    const GUID sublayer = SubLayerKey();
    GUID provider = ProviderKey();
    for (const GUID& layer : {kLayerConnectV4, kLayerConnectV6, kLayerRecvAcceptV4, kLayerRecvAcceptV6}) {
      FWPM_FILTER_ENUM_TEMPLATE0 tmpl{};
      tmpl.providerKey = &provider;
      tmpl.layerKey = layer;
      tmpl.enumType = FWP_FILTER_ENUM_OVERLAPPING;
      tmpl.actionMask = 0xffffffff;
      HANDLE handle = nullptr;
      if (DWORD rc = api_.enumOpen(engine, &tmpl, &handle)) return rc;
      std::vector<UINT64> ids;
      DWORD rc = 0;
      for (;;) {
        FWPM_FILTER0** entries = nullptr;
        UINT32 got = 0;
        rc = api_.enumNext(engine, handle, 64, &entries, &got);
        if (rc) break;
        for (UINT32 i = 0; i < got && entries; ++i) {
          if (entries[i] && entries[i]->subLayerKey == sublayer) ids.push_back(entries[i]->filterId);
        }
        if (entries) api_.freeMemory(reinterpret_cast<void**>(&entries));
        if (got < 64) break;
      }
      api_.enumClose(engine, handle);
      if (rc) return rc;
      if (count) {
        *count += ids.size();
        continue;
      }
      for (UINT64 id : ids) {
        if (DWORD d = api_.filterDelete(engine, id)) return d;
      }
    }
    return 0;
  }

  WfpApi api_;
  bool loaded_ = false;
  HANDLE dynamic_ = nullptr;
  HANDLE persistent_ = nullptr;
  mutable std::mutex mutex_;
  std::string lastError_;
};

}  // namespace

std::unique_ptr<IFirewall> CreateWfpFirewallOver(const WfpFunctionLookup& lookup) {
  return std::make_unique<CWfpFirewall>(lookup);
}

std::unique_ptr<IFirewall> CreateSystemFirewall() {
  // Loaded late so the client still starts where the platform is missing.
  static HMODULE module = ::LoadLibraryExW(L"fwpuclnt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return CreateWfpFirewallOver([](const char* name) -> void* {
    return module ? reinterpret_cast<void*>(::GetProcAddress(module, name)) : nullptr;
  });
}
