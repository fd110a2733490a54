#include "accel/bind_catalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

class CFakeCatalog : public IProviderCatalog {
 public:
  bool Enumerate(std::vector<CatalogEntry>& out) override {
    out = entries;
    return true;
  }
  static std::string Kind(const ProviderGuid& id) {
    return id == kBindLayeredGuid ? "layer" : id == kBindChainGuid ? "chains" : "other";
  }
  bool Install(const ProviderGuid& id, const std::wstring& path, const std::vector<CatalogEntry>& add) override {
    calls.push_back("install " + Kind(id) + " " + std::to_string(add.size()));
    ++installs;
    if (installs == failInstall) return false;
    if (ignoreInstalls) return true;  // what Wine does
    for (CatalogEntry e : add) {
      EXPECT_EQ(e.providerId, id);
      e.catalogId = nextId++;
      entries.push_back(e);
      paths[e.catalogId] = path;
    }
    return true;
  }
  bool Deinstall(const ProviderGuid& id) override {
    calls.push_back("deinstall " + Kind(id));
    const auto before = entries.size();
    std::erase_if(entries, [&](const CatalogEntry& e) { return e.providerId == id; });
    return entries.size() != before;
  }
  bool WriteOrder(const std::vector<std::uint32_t>& ids) override {
    calls.push_back("order");
    if (failOrder) return false;
    std::vector<std::uint32_t> have = Ids(), sorted = ids;
    std::sort(have.begin(), have.end());
    std::sort(sorted.begin(), sorted.end());
    if (have != sorted) return false;  // the system wants every entry exactly once
    std::vector<CatalogEntry> reordered;
    for (std::uint32_t id : ids)
      reordered.push_back(*std::find_if(entries.begin(), entries.end(), [&](auto& e) { return e.catalogId == id; }));
    entries = reordered;
    return true;
  }
  std::vector<std::uint32_t> Ids() const {
    std::vector<std::uint32_t> ids;
    for (const CatalogEntry& e : entries) ids.push_back(e.catalogId);
    return ids;
  }

  std::vector<CatalogEntry> entries;
  std::vector<std::string> calls;
  std::map<std::uint32_t, std::wstring> paths;
  std::uint32_t nextId = 1001;
  int installs = 0;
  int failInstall = 0;
  bool ignoreInstalls = false;
  bool failOrder = false;
};

CatalogEntry Base(std::uint32_t id, std::int32_t family, std::int32_t type, std::int32_t protocol, std::wstring name) {
  CatalogEntry e;
  e.catalogId = id;
  e.providerId[0] = static_cast<std::uint8_t>(id);
  e.addressFamily = family;
  e.socketType = type;
  e.protocol = protocol;
  e.chainLength = 1;
  e.chain = {id};
  e.name = std::move(name);
  return e;
}

// A system catalog: IPv6 first, then TCP and UDP over IPv4, raw; and
// another vendor's layer with a chain over TCP/IPv4.
std::vector<CatalogEntry> SystemCatalog() {
  std::vector<CatalogEntry> c = {Base(1, 23, 1, 6, L"TCP/IPv6"), Base(2, 2, 1, 6, L"TCP/IP"), Base(3, 2, 2, 17, L"UDP/IP"),
                                 Base(4, 2, 3, 0, L"RAW/IP")};
  CatalogEntry theirLayer = Base(50, 2, 1, 6, L"their layer");
  theirLayer.chainLength = 0;
  theirLayer.chain.clear();
  CatalogEntry theirChain = Base(51, 2, 1, 6, L"their chain");
  theirChain.chainLength = 2;
  theirChain.chain = {50, 2};
  c.insert(c.begin(), theirChain);
  c.push_back(theirLayer);
  return c;
}

std::vector<CatalogEntry> Ours(const CFakeCatalog& c) {
  std::vector<CatalogEntry> ours;
  for (const CatalogEntry& e : c.entries)
    if (e.providerId == kBindLayeredGuid || e.providerId == kBindChainGuid) ours.push_back(e);
  return ours;
}

// What a program asking for the protocol gets: the first entry in catalog
// order that is not a bare layer.
const CatalogEntry* ChosenFor(const CFakeCatalog& c, std::int32_t family, std::int32_t type, std::int32_t protocol) {
  for (const CatalogEntry& e : c.entries)
    if (e.chainLength >= 1 && e.addressFamily == family && e.socketType == type && e.protocol == protocol) return &e;
  return nullptr;
}

std::uint32_t OurLayer(const CFakeCatalog& c) {
  for (const CatalogEntry& e : c.entries)
    if (e.providerId == kBindLayeredGuid) return e.catalogId;
  return 0;
}

constexpr std::uint32_t kLayer = 0xFFFFFFFFu;  // stands for our layer's id in the tables below

void ExpectRegistered(const CFakeCatalog& c) {
  const std::vector<CatalogEntry> ours = Ours(c);
  ASSERT_EQ(ours.size(), 4u);
  const CatalogEntry* tcp = ChosenFor(c, 2, 1, 6);
  const CatalogEntry* udp = ChosenFor(c, 2, 2, 17);
  ASSERT_TRUE(tcp && udp);
  EXPECT_EQ(tcp->providerId, kBindChainGuid);
  EXPECT_EQ(udp->providerId, kBindChainGuid);
  EXPECT_EQ(c.paths.at(tcp->catalogId), L"C:\\Quillnet\\QuillnetBind.dll");
}

std::vector<std::uint32_t> Others(const CFakeCatalog& c) {
  std::vector<std::uint32_t> ids;
  for (const CatalogEntry& e : c.entries)
    if (e.providerId != kBindLayeredGuid && e.providerId != kBindChainGuid) ids.push_back(e.catalogId);
  return ids;
}

TEST(BindCatalog, ChainsGoBelowOtherLayersAndInFrontOfWhatProgramsGot) {
  struct Want {
    std::int32_t family, type, protocol;
    std::vector<std::uint32_t> chain;  // empty: programs keep what they had
    std::uint32_t inFrontOf;
  };
  CatalogEntry longChain = Base(60, 23, 2, 17, L"their long chain");
  longChain.chain = {50, 52, 53, 54, 55, 56, 5};
  longChain.chainLength = 7;
  struct Case {
    const char* what;
    std::vector<CatalogEntry> catalog;
    std::vector<Want> want;
  } cases[] = {
      {"their chain over TCP/IPv4 stays above ours",
       SystemCatalog(),
       {{2, 1, 6, {50, kLayer, 2}, 51}, {2, 2, 17, {kLayer, 3}, 3}, {23, 1, 6, {kLayer, 1}, 1}}},
      {"bases alone",
       {Base(1, 23, 1, 6, L"TCP/IPv6"), Base(5, 23, 2, 17, L"UDP/IPv6"), Base(2, 2, 1, 6, L"TCP/IP"),
        Base(3, 2, 2, 17, L"UDP/IP")},
       {{2, 1, 6, {kLayer, 2}, 2}, {2, 2, 17, {kLayer, 3}, 3}, {23, 1, 6, {kLayer, 1}, 1}, {23, 2, 17, {kLayer, 5}, 5}}},
      {"a chain as long as the system allows is left to itself",
       {Base(2, 2, 1, 6, L"TCP/IP"), Base(3, 2, 2, 17, L"UDP/IP"), longChain, Base(5, 23, 2, 17, L"UDP/IPv6")},
       {{2, 1, 6, {kLayer, 2}, 2}, {2, 2, 17, {kLayer, 3}, 3}, {23, 2, 17, {}, 60}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CFakeCatalog c;
    c.entries = k.catalog;
    const std::vector<std::uint32_t> before = c.Ids();
    ASSERT_EQ(RegisterBindProvider(c, L"C:\\Quillnet\\QuillnetBind.dll"), 0);
    const std::uint32_t layer = OurLayer(c);
    ASSERT_NE(layer, 0u);
    std::size_t chains = 0;
    for (const Want& w : k.want) {
      SCOPED_TRACE(w.family * 1000 + w.protocol);
      const CatalogEntry* chosen = ChosenFor(c, w.family, w.type, w.protocol);
      ASSERT_NE(chosen, nullptr);
      if (w.chain.empty()) {
        EXPECT_EQ(chosen->catalogId, w.inFrontOf);
        continue;
      }
      ++chains;
      std::vector<std::uint32_t> expected = w.chain;
      std::replace(expected.begin(), expected.end(), kLayer, layer);
      EXPECT_EQ(chosen->providerId, kBindChainGuid);
      EXPECT_EQ(chosen->chain, expected);
      EXPECT_EQ(chosen->chainLength, static_cast<std::int32_t>(expected.size()));
      // Right in front of what programs got before.
      const auto at = std::find_if(c.entries.begin(), c.entries.end(), [&](auto& e) { return &e == chosen; });
      ASSERT_NE(at + 1, c.entries.end());
      EXPECT_EQ((at + 1)->catalogId, w.inFrontOf);
    }
    EXPECT_EQ(Ours(c).size(), chains + 1);
    EXPECT_EQ(Others(c), before) << "everybody else keeps their order";
    EXPECT_EQ(UnregisterBindProvider(c), 0);
    EXPECT_EQ(c.Ids(), before) << "the order is as it was";
  }
}

TEST(BindCatalog, RegisterAndUnregisterAreIdempotentAndExact) {
  CFakeCatalog c;
  c.entries = SystemCatalog();
  const std::vector<std::uint32_t> before = c.Ids();
  ASSERT_EQ(RegisterBindProvider(c, L"C:\\Quillnet\\QuillnetBind.dll"), 0);
  ASSERT_EQ(RegisterBindProvider(c, L"C:\\Quillnet\\QuillnetBind.dll"), 0);
  ExpectRegistered(c);
  EXPECT_EQ(UnregisterBindProvider(c), 0);
  EXPECT_EQ(c.Ids(), before);
  EXPECT_EQ(UnregisterBindProvider(c), 0);
  EXPECT_EQ(c.Ids(), before);
}

TEST(BindCatalog, FailuresLeaveNothingOfOurs) {
  struct Case {
    const char* what;
    int failInstall;
    bool ignoreInstalls;
    bool failOrder;
    bool dropUdp;
  } cases[] = {
      {"the system ignores the install", 0, true, false, false},
      {"layer install fails", 1, false, false, false},
      {"chain install fails", 2, false, false, false},
      {"order cannot be written", 0, false, true, false},
      {"no UDP provider", 0, false, false, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CFakeCatalog c;
    c.entries = SystemCatalog();
    if (k.dropUdp) std::erase_if(c.entries, [](auto& e) { return e.protocol == 17; });
    const std::vector<std::uint32_t> before = c.Ids();
    c.failInstall = k.failInstall;
    c.ignoreInstalls = k.ignoreInstalls;
    c.failOrder = k.failOrder;
    EXPECT_EQ(RegisterBindProvider(c, L"C:\\Quillnet\\QuillnetBind.dll"), 1);
    EXPECT_TRUE(Ours(c).empty());
    EXPECT_EQ(c.Ids(), before);
  }
}

}  // namespace

namespace {

TEST(BindCatalog, BothCatalogsOrNeither) {
  struct Case {
    const char* what;
    int failNative;  // install number that fails
    int failWow;
    std::int32_t result;
    std::vector<std::string> nativeCalls, wowCalls;
  } cases[] = {
      {"both register", 0, 0, 0,
       {"install layer 1", "install chains 3", "order"},
       {"install layer 1", "install chains 3", "order"}},
      {"the native catalog fails: the 32-bit one is taken back", 2, 0, 1,
       {"install layer 1", "install chains 3", "deinstall layer"},
       {"install layer 1", "install chains 3", "order", "deinstall chains", "deinstall layer"}},
      {"the 32-bit catalog fails: the native one is not touched", 0, 1, 1, {}, {"install layer 1"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    CFakeCatalog native, wow;
    native.entries = wow.entries = SystemCatalog();
    const std::vector<std::uint32_t> before = native.Ids();
    native.failInstall = k.failNative;
    wow.failInstall = k.failWow;
    EXPECT_EQ(RegisterBindProviders(native, L"C:\\Quillnet\\QuillnetBind.dll", &wow, L"C:\\Quillnet\\x86\\QuillnetBind.dll"),
              k.result);
    EXPECT_EQ(native.calls, k.nativeCalls);
    EXPECT_EQ(wow.calls, k.wowCalls);
    if (k.result == 0) {
      EXPECT_EQ(wow.paths.at(ChosenFor(wow, 2, 1, 6)->catalogId), L"C:\\Quillnet\\x86\\QuillnetBind.dll");
      EXPECT_EQ(UnregisterBindProviders(native, &wow), 0);
    }
    EXPECT_TRUE(Ours(native).empty());
    EXPECT_TRUE(Ours(wow).empty());
    EXPECT_EQ(native.Ids(), before);
    EXPECT_EQ(wow.Ids(), before);
  }
}

}  // namespace
