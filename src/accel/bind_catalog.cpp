#include "accel/bind_catalog.h"

#include <algorithm>

// {7D4B2C61-0F3A-4E52-9C1D-5A6E8B9F0D21} and {7D4B2C62-...}.
const ProviderGuid kBindLayeredGuid = {0x61, 0x2C, 0x4B, 0x7D, 0x3A, 0x0F, 0x52, 0x4E,
                                       0x9C, 0x1D, 0x5A, 0x6E, 0x8B, 0x9F, 0x0D, 0x21};
const ProviderGuid kBindChainGuid = {0x62, 0x2C, 0x4B, 0x7D, 0x3A, 0x0F, 0x52, 0x4E,
                                     0x9C, 0x1D, 0x5A, 0x6E, 0x8B, 0x9F, 0x0D, 0x21};

namespace {

constexpr std::int32_t kInet = 2;
constexpr std::int32_t kStream = 1, kDatagram = 2;
constexpr std::int32_t kTcp = 6, kUdp = 17;

bool Has(const std::vector<CatalogEntry>& entries, const ProviderGuid& id) {
  return std::any_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) { return e.providerId == id; });
}

const CatalogEntry* FirstBase(const std::vector<CatalogEntry>& entries, std::int32_t type, std::int32_t protocol) {
  for (const CatalogEntry& e : entries)
    if (e.chainLength == 1 && e.addressFamily == kInet && e.socketType == type && e.protocol == protocol) return &e;
  return nullptr;
}

}  // namespace

std::int32_t UnregisterBindProvider(IProviderCatalog& catalog) {
  std::vector<CatalogEntry> entries;
  if (!catalog.Enumerate(entries)) return 1;
  bool ok = true;
  // Chains first: a chain must never outlive the layer it names.
  if (Has(entries, kBindChainGuid)) ok = catalog.Deinstall(kBindChainGuid) && ok;
  if (Has(entries, kBindLayeredGuid)) ok = catalog.Deinstall(kBindLayeredGuid) && ok;
  return ok ? 0 : 1;
}

std::int32_t RegisterBindProvider(IProviderCatalog& catalog, const std::wstring& modulePath) {
  if (UnregisterBindProvider(catalog) != 0) return 1;
  std::vector<CatalogEntry> entries;
  if (!catalog.Enumerate(entries)) return 1;
  const CatalogEntry* tcp = FirstBase(entries, kStream, kTcp);
  const CatalogEntry* udp = FirstBase(entries, kDatagram, kUdp);
  if (!tcp || !udp) return 1;
  const std::vector<CatalogEntry> bases = {*tcp, *udp};

  CatalogEntry layer = *tcp;
  layer.providerId = kBindLayeredGuid;
  layer.chainLength = 0;
  layer.chain.clear();
  layer.name = L"Quillnet Bind Layer";
  if (!catalog.Install(kBindLayeredGuid, modulePath, {layer})) return 1;

  auto undo = [&] {
    UnregisterBindProvider(catalog);
    return 1;
  };
  entries.clear();
  if (!catalog.Enumerate(entries)) return undo();
  auto ours = std::find_if(entries.begin(), entries.end(),
                           [](const CatalogEntry& e) { return e.providerId == kBindLayeredGuid; });
  if (ours == entries.end()) return undo();  // installed but not listed: the system ignored it
  const std::uint32_t layerId = ours->catalogId;

  std::vector<CatalogEntry> chains;
  for (const CatalogEntry& base : bases) {
    CatalogEntry chain = base;
    chain.providerId = kBindChainGuid;
    chain.chainLength = 2;
    chain.chain = {layerId, base.catalogId};
    chain.name = L"Quillnet Bind over " + base.name;
    chains.push_back(std::move(chain));
  }
  if (!catalog.Install(kBindChainGuid, modulePath, chains)) return undo();

  entries.clear();
  if (!catalog.Enumerate(entries)) return undo();
  std::vector<std::uint32_t> order;
  for (const CatalogEntry& e : entries)
    if (e.providerId == kBindChainGuid) order.push_back(e.catalogId);
  if (order.size() != chains.size()) return undo();
  for (const CatalogEntry& e : entries)
    if (e.providerId != kBindChainGuid) order.push_back(e.catalogId);
  if (!catalog.WriteOrder(order)) return undo();
  return 0;
}
