// Registration of the bind module as a layered socket provider: one layered
// entry of ours and one protocol chain over each of the first TCP/IPv4 and
// UDP/IPv4 base providers, the chains ordered first. The system's catalog is
// reached through IProviderCatalog (one per catalog: the native one, and on
// 64-bit systems the 32-bit one), so the rules are tested in memory.
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
