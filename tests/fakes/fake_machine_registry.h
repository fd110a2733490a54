// An in-memory local machine registry: keys by path (case-insensitive), each
// with typed values. Writes go through unless a value is marked read-only.
#pragma once
#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "account/machine_registry_port.h"

class CFakeMachineRegistry : public IMachineRegistry {
 public:
  struct Other {};  // a value of a type nobody reads
  using Value = std::variant<std::uint32_t, std::wstring, std::vector<std::wstring>, Other>;

  std::unique_ptr<IRegistryKey> Open(std::wstring_view subkey) override;

  void AddKey(const std::wstring& path);
  void Put(const std::wstring& path, const std::wstring& name, Value value);
  std::optional<Value> Get(const std::wstring& path, const std::wstring& name) const;
  std::optional<std::uint32_t> Dword(const std::wstring& path, const std::wstring& name) const;
  // Writes of this value fail with 5 (access denied).
  void DenyWrites(const std::wstring& path, const std::wstring& name);
  // The subkey names that fail to enumerate with this error.
  std::map<std::wstring, RegistryStatus> unreadableSubkeys;

  int writes = 0;

 private:
  friend class CFakeRegistryKey;
  static std::wstring Fold(std::wstring_view path);
  std::map<std::wstring, std::map<std::wstring, Value>> keys_;  // folded path -> values
  std::map<std::wstring, std::wstring> spelled_;                // folded path -> path as added
  std::set<std::pair<std::wstring, std::wstring>> denied_;
};
