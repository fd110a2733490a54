#include "accel/bind_catalog.h"

#include <algorithm>

// {7D4B2C61-0F3A-4E52-9C1D-5A6E8B9F0D21} and {7D4B2C62-...}.
const ProviderGuid kBindLayeredGuid = {0x61, 0x2C, 0x4B, 0x7D, 0x3A, 0x0F, 0x52, 0x4E,
                                       0x9C, 0x1D, 0x5A, 0x6E, 0x8B, 0x9F, 0x0D, 0x21};
const ProviderGuid kBindChainGuid = {0x62, 0x2C, 0x4B, 0x7D, 0x3A, 0x0F, 0x52, 0x4E,
                                     0x9C, 0x1D, 0x5A, 0x6E, 0x8B, 0x9F, 0x0D, 0x21};

namespace {

constexpr std::int32_t kInet = 2, kInet6 = 23;
constexpr std::int32_t kStream = 1, kDatagram = 2;
constexpr std::int32_t kTcp = 6, kUdp = 17;
constexpr std::size_t kMaxChain = 7;  // the system's longest protocol chain

bool Has(const std::vector<CatalogEntry>& entries, const ProviderGuid& id) {
  return std::any_of(entries.begin(), entries.end(), [&](const CatalogEntry& e) { return e.providerId == id; });
}

// The entry a program gets for the protocol: the first one in catalog
// order that is not a bare layer.
const CatalogEntry* Chosen(const std::vector<CatalogEntry>& entries, std::int32_t family, std::int32_t type,
                           std::int32_t protocol) {
  for (const CatalogEntry& e : entries)
    if (e.chainLength >= 1 && e.addressFamily == family && e.socketType == type && e.protocol == protocol) return &e;
  return nullptr;
}

struct Protocol {
  std::int32_t family, type, protocol;
  bool required;  // a system without IPv6 still gets the module for IPv4
};
constexpr Protocol kProtocols[] = {{kInet, kStream, kTcp, true},
                                   {kInet, kDatagram, kUdp, true},
                                   {kInet6, kStream, kTcp, false},
                                   {kInet6, kDatagram, kUdp, false}};

}  // namespace

std::vector<std::uint32_t> BindChainOver(const CatalogEntry& chosen, std::uint32_t layerId) {
  if (chosen.chainLength == 1) return {layerId, chosen.catalogId};
  if (chosen.chainLength < 2 || chosen.chain.size() != static_cast<std::size_t>(chosen.chainLength) ||
      chosen.chain.size() + 1 > kMaxChain)
    return {};
  // Theirs above, ours right on the base: their layer still sees every call.
  std::vector<std::uint32_t> chain(chosen.chain.begin(), chosen.chain.end() - 1);
  chain.push_back(layerId);
  chain.push_back(chosen.chain.back());
  return chain;
}

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
  // What programs get today, per protocol; our chains go in front of these.
  std::vector<CatalogEntry> chosen;
  for (const Protocol& p : kProtocols) {
    const CatalogEntry* e = Chosen(entries, p.family, p.type, p.protocol);
    if (e) chosen.push_back(*e);
    else if (p.required) return 1;
  }

  CatalogEntry layer = chosen.front();
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
  std::vector<std::uint32_t> above;  // per chain, the entry it goes in front of
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    CatalogEntry chain = chosen[i];
    chain.chain = BindChainOver(chosen[i], layerId);
    if (chain.chain.empty()) {
      if (i < 2) return undo();  // IPv4 is what the module is for
      continue;
    }
    chain.providerId = kBindChainGuid;
    chain.chainLength = static_cast<std::int32_t>(chain.chain.size());
    chain.name = L"Quillnet Bind over " + chosen[i].name;
    chains.push_back(std::move(chain));
    above.push_back(chosen[i].catalogId);
  }
  if (!catalog.Install(kBindChainGuid, modulePath, chains)) return undo();

  entries.clear();
  if (!catalog.Enumerate(entries)) return undo();
  std::vector<const CatalogEntry*> installed;
  for (const CatalogEntry& e : entries)
    if (e.providerId == kBindChainGuid) installed.push_back(&e);
  if (installed.size() != chains.size()) return undo();
  // Everybody else keeps their order; each chain of ours goes right in
  // front of the entry programs got before for its protocol.
  std::vector<std::uint32_t> order;
  for (const CatalogEntry& e : entries) {
    if (e.providerId == kBindChainGuid) continue;
    for (std::size_t i = 0; i < chains.size(); ++i) {
      if (above[i] != e.catalogId) continue;
      for (const CatalogEntry* c : installed)
        if (c->addressFamily == chains[i].addressFamily && c->socketType == chains[i].socketType &&
            c->protocol == chains[i].protocol)
          order.push_back(c->catalogId);
    }
    order.push_back(e.catalogId);
  }
  if (order.size() != entries.size()) return undo();
  if (!catalog.WriteOrder(order)) return undo();
  return 0;
}

std::int32_t RegisterBindProviders(IProviderCatalog& native, const std::wstring& nativePath, IProviderCatalog* wow32,
                                   const std::wstring& path32) {
  // The 32-bit catalog first: on 64-bit Windows its install passes through
  // the native one, which must hold nothing of ours meanwhile.
  if (UnregisterBindProvider(native) != 0) return 1;
  if (wow32 && RegisterBindProvider(*wow32, path32) != 0) return 1;
  if (RegisterBindProvider(native, nativePath) == 0) return 0;
  // Half a registration is none: 32-bit programs alone would be accelerated.
  if (wow32) UnregisterBindProvider(*wow32);
  return 1;
}

std::int32_t UnregisterBindProviders(IProviderCatalog& native, IProviderCatalog* wow32) {
  std::int32_t result = UnregisterBindProvider(native);
  if (wow32 && UnregisterBindProvider(*wow32) != 0) result = 1;
  return result;
}
