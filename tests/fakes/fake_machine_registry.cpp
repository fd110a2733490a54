#include "fakes/fake_machine_registry.h"

#include <cwctype>

class CFakeRegistryKey : public IRegistryKey {
 public:
  CFakeRegistryKey(CFakeMachineRegistry& registry, std::wstring path) : registry_(registry), path_(std::move(path)) {}

  RegistryStatus ReadDword(std::wstring_view name, std::uint32_t& value) override {
    const auto* v = Find(name);
    if (!v) return kRegistryNotFound;
    if (!std::holds_alternative<std::uint32_t>(*v)) return kRegistryInvalidData;
    value = std::get<std::uint32_t>(*v);
    return 0;
  }
  RegistryStatus WriteDword(std::wstring_view name, std::uint32_t value) override {
    return Write(name, value);
  }
  RegistryStatus ReadBindList(std::vector<std::wstring>& list) override {
    const auto* v = Find(L"Bind");
    if (!v) return kRegistryNotFound;
    if (!std::holds_alternative<std::vector<std::wstring>>(*v)) return kRegistryInvalidData;
    list = std::get<std::vector<std::wstring>>(*v);
    return 0;
  }
  RegistryStatus WriteBindList(const std::vector<std::wstring>& list) override { return Write(L"Bind", list); }
  RegistryStatus ReadDhcpAddress(std::wstring& address) override {
    const auto* v = Find(L"DhcpIPAddress");
    if (!v) return kRegistryNotFound;
    if (!std::holds_alternative<std::wstring>(*v)) return kRegistryInvalidData;
    address = std::get<std::wstring>(*v);
    return 0;
  }
  RegistryStatus EnumSubkey(std::uint32_t index, std::wstring& name) override {
    const std::wstring prefix = path_ + L"\\";
    std::uint32_t seen = 0;
    for (const auto& [folded, spelled] : registry_.spelled_) {
      if (folded.size() <= prefix.size() || folded.compare(0, prefix.size(), prefix) != 0) continue;
      if (folded.find(L'\\', prefix.size()) != std::wstring::npos) continue;
      if (seen++ != index) continue;
      const std::wstring child = spelled.substr(prefix.size());
      if (auto bad = registry_.unreadableSubkeys.find(child); bad != registry_.unreadableSubkeys.end()) {
        return bad->second;
      }
      name = child;
      return 0;
    }
    return kRegistryNoMoreItems;
  }

 private:
  const CFakeMachineRegistry::Value* Find(std::wstring_view name) {
    auto& values = registry_.keys_[path_];
    auto it = values.find(std::wstring(name));
    return it == values.end() ? nullptr : &it->second;
  }
  RegistryStatus Write(std::wstring_view name, CFakeMachineRegistry::Value value) {
    if (registry_.denied_.count({path_, std::wstring(name)})) return 5;
    ++registry_.writes;
    registry_.keys_[path_][std::wstring(name)] = std::move(value);
    return 0;
  }
  CFakeMachineRegistry& registry_;
  std::wstring path_;  // folded
};

std::wstring CFakeMachineRegistry::Fold(std::wstring_view path) {
  std::wstring folded;
  for (wchar_t c : path) folded += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return folded;
}

std::unique_ptr<IRegistryKey> CFakeMachineRegistry::Open(std::wstring_view subkey) {
  const std::wstring folded = Fold(subkey);
  if (!keys_.count(folded)) return nullptr;
  return std::make_unique<CFakeRegistryKey>(*this, folded);
}

void CFakeMachineRegistry::AddKey(const std::wstring& path) {
  keys_[Fold(path)];
  spelled_.emplace(Fold(path), path);
}

void CFakeMachineRegistry::Put(const std::wstring& path, const std::wstring& name, Value value) {
  AddKey(path);
  keys_[Fold(path)][name] = std::move(value);
}

std::optional<CFakeMachineRegistry::Value> CFakeMachineRegistry::Get(const std::wstring& path,
                                                                     const std::wstring& name) const {
  auto key = keys_.find(Fold(path));
  if (key == keys_.end()) return std::nullopt;
  auto it = key->second.find(name);
  if (it == key->second.end()) return std::nullopt;
  return it->second;
}

std::optional<std::uint32_t> CFakeMachineRegistry::Dword(const std::wstring& path, const std::wstring& name) const {
  auto v = Get(path, name);
  if (!v || !std::holds_alternative<std::uint32_t>(*v)) return std::nullopt;
  return std::get<std::uint32_t>(*v);
}

void CFakeMachineRegistry::DenyWrites(const std::wstring& path, const std::wstring& name) {
  denied_.insert({Fold(path), name});
}
