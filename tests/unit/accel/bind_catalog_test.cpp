#include "accel/bind_catalog.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class CFakeCatalog : public IProviderCatalog {
 public:
  bool Enumerate(std::vector<CatalogEntry>& out) override {
    out = entries;
    return true;
  }
  bool Install(const ProviderGuid& id, const std::wstring& path, const std::vector<CatalogEntry>& add) override {
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
    const auto before = entries.size();
    std::erase_if(entries, [&](const CatalogEntry& e) { return e.providerId == id; });
    return entries.size() != before;
  }
  bool WriteOrder(const std::vector<std::uint32_t>& ids) override {
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

void ExpectRegistered(const CFakeCatalog& c) {
  const std::vector<CatalogEntry> ours = Ours(c);
  ASSERT_EQ(ours.size(), 3u);
  // Chains first, TCP then UDP, each over our layer and the first plain base.
  EXPECT_EQ(c.entries[0].providerId, kBindChainGuid);
  EXPECT_EQ(c.entries[1].providerId, kBindChainGuid);
  const CatalogEntry& layer = *std::find_if(ours.begin(), ours.end(), [](auto& e) { return e.providerId == kBindLayeredGuid; });
  EXPECT_EQ(layer.chainLength, 0);
  EXPECT_EQ(c.entries[0].chain, (std::vector<std::uint32_t>{layer.catalogId, 2}));
  EXPECT_EQ(c.entries[0].socketType, 1);
  EXPECT_EQ(c.entries[1].chain, (std::vector<std::uint32_t>{layer.catalogId, 3}));
  EXPECT_EQ(c.entries[1].protocol, 17);
  EXPECT_EQ(c.paths.at(c.entries[0].catalogId), L"C:\\Quillnet\\QuillnetBind.dll");
}

std::vector<std::uint32_t> Others(const CFakeCatalog& c) {
  std::vector<std::uint32_t> ids;
  for (const CatalogEntry& e : c.entries)
    if (e.providerId != kBindLayeredGuid && e.providerId != kBindChainGuid) ids.push_back(e.catalogId);
  return ids;
}

TEST(BindCatalog, RegisterInstallsALayerAndTwoChainsOrderedFirst) {
  CFakeCatalog c;
  c.entries = SystemCatalog();
  const std::vector<std::uint32_t> before = c.Ids();
  EXPECT_EQ(RegisterBindProvider(c, L"C:\\Quillnet\\QuillnetBind.dll"), 0);
  ExpectRegistered(c);
  EXPECT_EQ(Others(c), before) << "everybody else keeps their order";
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
