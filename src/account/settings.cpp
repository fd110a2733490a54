#include "account/settings.h"

#include <mutex>

#include "account/settings_platform.h"

namespace {

struct SettingsState {
  std::mutex mutex;
  SettingsPlaces places;
  std::shared_ptr<ISettingsStore> replacedStore;
  std::shared_ptr<ISettingsStore> platformStore;
  std::shared_ptr<IPasswordProtector> replacedProtector;
  std::shared_ptr<IPasswordProtector> platformProtector;
  std::optional<std::wstring> programDataFolder;
  std::optional<std::wstring> updateDownloadFolder;
  std::optional<std::wstring> executablePath;
};

SettingsState& State() {
  static SettingsState state;
  return state;
}

std::shared_ptr<ISettingsStore> CurrentStore() {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.replacedStore) return s.replacedStore;
  if (!s.platformStore) s.platformStore = MakePlatformSettingsStore(s.places.userRoot);
  return s.platformStore;
}

std::shared_ptr<IPasswordProtector> CurrentProtector() {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.replacedProtector) return s.replacedProtector;
  if (!s.platformProtector) s.platformProtector = MakePlatformPasswordProtector(s.places.userRoot);
  return s.platformProtector;
}

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != kPathSeparator && folder.back() != L'/') folder += kPathSeparator;
  return folder;
}

// Caller holds the lock.
const std::wstring& ExecutablePathLocked(SettingsState& s) {
  if (!s.executablePath) s.executablePath = PlatformExecutablePath();
  return *s.executablePath;
}

}  // namespace

ISettingsStore& SettingsStore() { return *CurrentStore(); }

void SetSettingsStore(std::shared_ptr<ISettingsStore> store) {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.replacedStore = std::move(store);
}

void SetPasswordProtector(std::shared_ptr<IPasswordProtector> protector) {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.replacedProtector = std::move(protector);
}

std::int32_t GetSettingInt(std::wstring_view section, std::wstring_view name, std::int32_t defaultValue) {
  return CurrentStore()->ReadInt(section, name).value_or(defaultValue);
}

void SetSettingInt(std::wstring_view section, std::wstring_view name, std::int32_t value) {
  CurrentStore()->WriteInt(section, name, value);
}

std::wstring GetSettingString(std::wstring_view section, std::wstring_view name, std::wstring_view defaultValue) {
  auto value = CurrentStore()->ReadString(section, name);
  return value ? std::move(*value) : std::wstring(defaultValue);
}

void SetSettingString(std::wstring_view section, const wchar_t* name, const wchar_t* value) {
  auto store = CurrentStore();
  if (!name) {
    store->DeleteSection(section);
  } else if (!value) {
    store->DeleteValue(section, name);
  } else {
    store->WriteString(section, name, value);
  }
}

std::optional<ByteString> GetSettingBinary(std::wstring_view section, std::wstring_view name) {
  return CurrentStore()->ReadBinary(section, name);
}

void SetSettingBinary(std::wstring_view section, std::wstring_view name, const void* bytes, std::size_t length) {
  // No bytes to copy from means an empty value, never a read through null.
  ByteString value;
  if (bytes && length) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    value.assign(p, p + length);
  }
  CurrentStore()->WriteBinary(section, name, value);
}

void SetSettingBinary(std::wstring_view section, std::wstring_view name, const ByteString& bytes) {
  CurrentStore()->WriteBinary(section, name, bytes);
}

ByteString ProtectPassword(std::wstring_view password) { return CurrentProtector()->Protect(password); }

std::optional<std::wstring> UnprotectPassword(const ByteString& protectedBytes) {
  if (protectedBytes.empty()) return std::nullopt;
  return CurrentProtector()->Unprotect(protectedBytes);
}

std::wstring OverrideFilePath() {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.places.overrideFilePath.empty()) return s.places.overrideFilePath;
  const std::wstring& exe = ExecutablePathLocked(s);
  // Without our own path there is no override file; an empty path never
  // names a file, where ".ini" would name one in the working folder.
  return exe.empty() ? std::wstring() : exe + L".ini";
}

std::wstring ModuleFolder() {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.places.moduleFolder.empty()) return WithSeparator(s.places.moduleFolder);
  const std::wstring& exe = ExecutablePathLocked(s);
  const std::size_t cut = exe.find_last_of(L"\\/");
  return cut == std::wstring::npos ? std::wstring() : exe.substr(0, cut + 1);
}

std::wstring ProgramDataFolder() {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.programDataFolder) {
    std::wstring folder = s.places.programDataFolder.empty() ? PlatformProgramDataFolder()
                                                             : WithSeparator(s.places.programDataFolder);
    // A folder that cannot be made still gives its path; the writers there
    // then fail and say so in their own way.
    if (!folder.empty()) SecureProgramDataFolder(folder);
    s.programDataFolder = std::move(folder);
  }
  return *s.programDataFolder;
}

std::wstring UpdateDownloadFolder() {
  const std::wstring data = ProgramDataFolder();
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!s.updateDownloadFolder) {
    std::wstring folder = data.empty() ? std::wstring() : data + L"Update" + kPathSeparator;
    if (!folder.empty()) SecureDownloadFolder(folder);
    s.updateDownloadFolder = std::move(folder);
  }
  return *s.updateDownloadFolder;
}

void RedirectSettingsPlaces(const SettingsPlaces& places) {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.places = places;
  s.platformStore.reset();
  s.platformProtector.reset();
  s.programDataFolder.reset();
  s.updateDownloadFolder.reset();
}

SettingsPlaces CurrentSettingsPlaces() {
  SettingsState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.places;
}
