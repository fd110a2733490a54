// The program's own version resource: the file version the update check
// compares and the string values the About box shows. Behind a port because
// only Windows has version resources; tests hand in a fake.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

class IModuleVersion {
 public:
  virtual ~IModuleVersion() = default;
  // `module` null: the running executable; otherwise a module already loaded.
  virtual bool LoadVersion(const wchar_t* module) = 0;
  // Most-significant half times 2^32 plus the least-significant half; 0 when
  // nothing is loaded.
  virtual std::uint64_t FileVersion() const = 0;
  // A value of the string table of the loaded translation; empty when nothing
  // is loaded or the value is missing.
  virtual std::wstring GetValue(std::wstring_view name) const = 0;
};

#ifdef _WIN32
#include <memory>
#include <vector>

// The Win32 reader of version resources.
class CModuleVersion : public IModuleVersion {
 public:
  bool LoadVersion(const wchar_t* module) override;
  std::uint64_t FileVersion() const override;
  std::wstring GetValue(std::wstring_view name) const override;

 private:
  std::uint32_t fileVersionMs_ = 0;
  std::uint32_t fileVersionLs_ = 0;
  bool loaded_ = false;
  std::vector<std::uint8_t> block_;
  std::uint16_t language_ = 0;
  std::uint16_t codePage_ = 1252;
};
#endif
