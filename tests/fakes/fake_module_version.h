// A version resource in memory.
#pragma once
#include <map>

#include "app/module_version.h"

class CFakeModuleVersion : public IModuleVersion {
 public:
  explicit CFakeModuleVersion(std::uint64_t version = 0) : version_(version) {}
  // p.q.r.s as the fixed information packs it.
  static std::uint64_t Pack(std::uint32_t p, std::uint32_t q, std::uint32_t r, std::uint32_t s) {
    return (static_cast<std::uint64_t>((p << 16) | q) << 32) | ((r << 16) | s);
  }
  bool LoadVersion(const wchar_t*) override {
    loaded_ = version_ != 0;
    return loaded_;
  }
  std::uint64_t FileVersion() const override { return loaded_ ? version_ : 0; }
  std::wstring GetValue(std::wstring_view name) const override {
    if (!loaded_) return {};
    auto it = values.find(std::wstring(name));
    return it == values.end() ? std::wstring() : it->second;
  }
  std::map<std::wstring, std::wstring> values;

 private:
  std::uint64_t version_;
  bool loaded_ = false;
};
