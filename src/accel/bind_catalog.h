// Registration of the bind module as a layered socket provider: one layered
// entry of ours and one protocol chain for each of TCP and UDP over IPv4 and
// (where the system has them) IPv6. Each chain puts our layer right above
// the base provider and below any other vendor's layers of the entry that
// programs got so far, and goes in front of that entry in the catalog. The
// system's catalog is reached through IProviderCatalog (one per catalog: the
// native one, and on 64-bit systems the 32-bit one), so the rules are tested
// in memory.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

using ProviderGuid = std::array<std::uint8_t, 16>;

struct CatalogEntry {
  std::uint32_t catalogId = 0;
  ProviderGuid providerId{};
  std::int32_t addressFamily = 0;
  std::int32_t socketType = 0;
  std::int32_t protocol = 0;
  // 0 a layered entry, 1 a base provider, 2 or more a chain.
  std::int32_t chainLength = 1;
  std::vector<std::uint32_t> chain;
  std::wstring name;
  // What the platform needs to copy an entry (its whole protocol record).
  std::vector<std::uint8_t> platformRecord;
};

class IProviderCatalog {
 public:
  virtual ~IProviderCatalog() = default;
  virtual bool Enumerate(std::vector<CatalogEntry>& entries) = 0;
  // Entries get their catalog ids from the system.
  virtual bool Install(const ProviderGuid& id, const std::wstring& modulePath,
                       const std::vector<CatalogEntry>& entries) = 0;
  virtual bool Deinstall(const ProviderGuid& id) = 0;
  // Every catalog id, in the new order.
  virtual bool WriteOrder(const std::vector<std::uint32_t>& ids) = 0;
};

extern const ProviderGuid kBindLayeredGuid;
extern const ProviderGuid kBindChainGuid;

// 0 success, 1 failure. Registering again first removes what an earlier
// registration left, so the catalog holds one set of ours at any time; a
// failure half-way removes what this call installed.
std::int32_t RegisterBindProvider(IProviderCatalog& catalog, const std::wstring& modulePath);
// Removes the entries with our two ids and nothing else; 0 also when there
// was nothing to remove.
std::int32_t UnregisterBindProvider(IProviderCatalog& catalog);

// Our chain in place of `chosen` (a base provider or another vendor's
// chain): empty when it would be longer than the system allows.
std::vector<std::uint32_t> BindChainOver(const CatalogEntry& chosen, std::uint32_t layerId);

// Both catalogs of a 64-bit system (`wow32` null elsewhere, or without the
// 32-bit module): all or nothing.
std::int32_t RegisterBindProviders(IProviderCatalog& native, const std::wstring& nativePath, IProviderCatalog* wow32,
                                   const std::wstring& path32);
std::int32_t UnregisterBindProviders(IProviderCatalog& native, IProviderCatalog* wow32);
