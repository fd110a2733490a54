// What the client remembers between runs: typed per-user settings, the
// read-only override file beside the executable, and the program data folder.
// The setting functions are process-wide (every window uses them); behind
// them sits one ISettingsStore and one IPasswordProtector, which tests replace.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using ByteString = std::vector<std::uint8_t>;

// One store of typed values, sections holding named values. Integers, texts
// and byte strings are kept apart: reading a value as another type than it
// was written gives the default. Names compare without regard to ASCII case.
class ISettingsStore {
 public:
  virtual ~ISettingsStore() = default;
  virtual std::optional<std::int32_t> ReadInt(std::wstring_view section, std::wstring_view name) = 0;
  virtual std::optional<std::wstring> ReadString(std::wstring_view section, std::wstring_view name) = 0;
  virtual std::optional<ByteString> ReadBinary(std::wstring_view section, std::wstring_view name) = 0;
  virtual void WriteInt(std::wstring_view section, std::wstring_view name, std::int32_t value) = 0;
  virtual void WriteString(std::wstring_view section, std::wstring_view name, std::wstring_view value) = 0;
  virtual void WriteBinary(std::wstring_view section, std::wstring_view name, const ByteString& value) = 0;
  virtual void DeleteValue(std::wstring_view section, std::wstring_view name) = 0;
  virtual void DeleteSection(std::wstring_view section) = 0;
};

// Turns the saved password into bytes only the current user can turn back.
class IPasswordProtector {
 public:
  virtual ~IPasswordProtector() = default;
  // Empty when the protection failed: store nothing then.
  virtual ByteString Protect(std::wstring_view password) = 0;
  // Nothing for bytes made by another user or machine, or damaged bytes.
  virtual std::optional<std::wstring> Unprotect(const ByteString& protectedBytes) = 0;
};

// The store the setting functions use; the platform's own unless replaced.
ISettingsStore& SettingsStore();
// Replaces the store for the rest of the process (tests); nullptr restores
// the platform's store.
void SetSettingsStore(std::shared_ptr<ISettingsStore> store);
// Same for the password protection.
void SetPasswordProtector(std::shared_ptr<IPasswordProtector> protector);

std::int32_t GetSettingInt(std::wstring_view section, std::wstring_view name, std::int32_t defaultValue);
void SetSettingInt(std::wstring_view section, std::wstring_view name, std::int32_t value);
std::wstring GetSettingString(std::wstring_view section, std::wstring_view name, std::wstring_view defaultValue);
// A null value deletes the named value; a null name deletes the whole section.
void SetSettingString(std::wstring_view section, const wchar_t* name, const wchar_t* value);
std::optional<ByteString> GetSettingBinary(std::wstring_view section, std::wstring_view name);
void SetSettingBinary(std::wstring_view section, std::wstring_view name, const void* bytes, std::size_t length);
void SetSettingBinary(std::wstring_view section, std::wstring_view name, const ByteString& bytes);

// The saved password's protection, bound to the current user. An empty
// result means the protection failed and nothing should be stored.
ByteString ProtectPassword(std::wstring_view password);
std::optional<std::wstring> UnprotectPassword(const ByteString& protectedBytes);

// Paths end with the platform's separator where they name a folder.
std::wstring OverrideFilePath();
std::wstring ProgramDataFolder();
// Where the online update downloads to: a folder in the program data folder
// that only administrators can write, made or repaired on first use in each
// process (files of others found there are removed; our own leftovers are
// the start-up's to delete).
std::wstring UpdateDownloadFolder();
std::wstring ModuleFolder();

// Where the platform keeps things, so tests and side-by-side runs never touch
// the product's own settings. An empty field means the platform's own place.
struct SettingsPlaces {
  // Windows: the key path below HKEY_CURRENT_USER; elsewhere: the folder that
  // holds the settings file and the password key.
  std::wstring userRoot;
  std::wstring programDataFolder;
  std::wstring moduleFolder;
  std::wstring overrideFilePath;
};
// Takes effect at once: the platform store is reopened at the new root and
// the kept folder paths are worked out again on their next use.
void RedirectSettingsPlaces(const SettingsPlaces& places);
SettingsPlaces CurrentSettingsPlaces();
