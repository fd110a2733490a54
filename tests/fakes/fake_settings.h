// An in-memory settings store that keeps the three types apart, a password
// protection bound to a pretend user, and installers for one test's lifetime.
#pragma once
#include <map>
#include <mutex>
#include <variant>

#include "account/settings.h"

class CFakeSettingsStore : public ISettingsStore {
 public:
  std::optional<std::int32_t> ReadInt(std::wstring_view section, std::wstring_view name) override;
  std::optional<std::wstring> ReadString(std::wstring_view section, std::wstring_view name) override;
  std::optional<ByteString> ReadBinary(std::wstring_view section, std::wstring_view name) override;
  void WriteInt(std::wstring_view section, std::wstring_view name, std::int32_t value) override;
  void WriteString(std::wstring_view section, std::wstring_view name, std::wstring_view value) override;
  void WriteBinary(std::wstring_view section, std::wstring_view name, const ByteString& value) override;
  void DeleteValue(std::wstring_view section, std::wstring_view name) override;
  void DeleteSection(std::wstring_view section) override;

  bool Has(std::wstring_view section, std::wstring_view name) const;
  bool HasSection(std::wstring_view section) const;

 private:
  using Value = std::variant<std::int32_t, std::wstring, ByteString>;
  // Names compare without regard to ASCII case, as in the real stores.
  static std::wstring Fold(std::wstring_view s);
  mutable std::mutex mutex_;
  std::map<std::wstring, std::map<std::wstring, Value>> sections_;
};

// Bytes made for one pretend user open only for that user. Not protection:
// the password is merely scrambled, which is all a test needs.
class CFakePasswordProtector : public IPasswordProtector {
 public:
  explicit CFakePasswordProtector(std::uint8_t user = 1) : user_(user) {}
  ByteString Protect(std::wstring_view password) override;
  std::optional<std::wstring> Unprotect(const ByteString& protectedBytes) override;

 private:
  std::uint8_t user_;
};

// Installs a fresh fake store and protection for one test's lifetime.
class CScopedFakeSettings {
 public:
  explicit CScopedFakeSettings(std::uint8_t user = 1);
  ~CScopedFakeSettings();
  CScopedFakeSettings(const CScopedFakeSettings&) = delete;
  CScopedFakeSettings& operator=(const CScopedFakeSettings&) = delete;
  CFakeSettingsStore& Store() { return *store_; }
  CFakePasswordProtector& Protector() { return *protector_; }

 private:
  std::shared_ptr<CFakeSettingsStore> store_;
  std::shared_ptr<CFakePasswordProtector> protector_;
};

// Points the platform's places (settings root, program data folder, module
// folder, override file) elsewhere for one test's lifetime, e.g. an override
// file in a CTempDir; restores the previous places afterwards.
class CScopedSettingsPlaces {
 public:
  explicit CScopedSettingsPlaces(const SettingsPlaces& places);
  ~CScopedSettingsPlaces();
  CScopedSettingsPlaces(const CScopedSettingsPlaces&) = delete;
  CScopedSettingsPlaces& operator=(const CScopedSettingsPlaces&) = delete;

 private:
  SettingsPlaces previous_;
};
