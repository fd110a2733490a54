#include "fakes/fake_settings.h"

#include <cstring>

#include "account/password_seal.h"

std::wstring CFakeSettingsStore::Fold(std::wstring_view s) {
  std::wstring out(s);
  for (wchar_t& c : out) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return out;
}

template <typename T>
static std::optional<T> Get(const auto& sections, const std::wstring& s, const std::wstring& n) {
  auto sec = sections.find(s);
  if (sec == sections.end()) return std::nullopt;
  auto v = sec->second.find(n);
  if (v == sec->second.end() || !std::holds_alternative<T>(v->second)) return std::nullopt;
  return std::get<T>(v->second);
}

std::optional<std::int32_t> CFakeSettingsStore::ReadInt(std::wstring_view section, std::wstring_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Get<std::int32_t>(sections_, Fold(section), Fold(name));
}
std::optional<std::wstring> CFakeSettingsStore::ReadString(std::wstring_view section, std::wstring_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Get<std::wstring>(sections_, Fold(section), Fold(name));
}
std::optional<ByteString> CFakeSettingsStore::ReadBinary(std::wstring_view section, std::wstring_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  return Get<ByteString>(sections_, Fold(section), Fold(name));
}
void CFakeSettingsStore::WriteInt(std::wstring_view section, std::wstring_view name, std::int32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  sections_[Fold(section)][Fold(name)] = value;
}
void CFakeSettingsStore::WriteString(std::wstring_view section, std::wstring_view name, std::wstring_view value) {
  std::lock_guard<std::mutex> lock(mutex_);
  sections_[Fold(section)][Fold(name)] = std::wstring(value);
}
void CFakeSettingsStore::WriteBinary(std::wstring_view section, std::wstring_view name, const ByteString& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  sections_[Fold(section)][Fold(name)] = value;
}
void CFakeSettingsStore::DeleteValue(std::wstring_view section, std::wstring_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto sec = sections_.find(Fold(section));
  if (sec != sections_.end()) sec->second.erase(Fold(name));
}
void CFakeSettingsStore::DeleteSection(std::wstring_view section) {
  std::lock_guard<std::mutex> lock(mutex_);
  sections_.erase(Fold(section));
}
bool CFakeSettingsStore::Has(std::wstring_view section, std::wstring_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto sec = sections_.find(Fold(section));
  return sec != sections_.end() && sec->second.count(Fold(name)) != 0;
}

bool CFakeSettingsStore::HasSection(std::wstring_view section) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sections_.count(Fold(section)) != 0;
}

namespace {
constexpr std::uint8_t kFakeMagic[4] = {'F', 'A', 'K', 'E'};
}

ByteString CFakePasswordProtector::Protect(std::wstring_view password) {
  ByteString out(kFakeMagic, kFakeMagic + 4);
  out.push_back(user_);
  std::uint8_t sum = 0;
  for (std::uint8_t b : PasswordToUtf16Bytes(password)) {
    out.push_back(static_cast<std::uint8_t>(b ^ 0x5a ^ user_));
    sum = static_cast<std::uint8_t>(sum + b);
  }
  out.push_back(sum);
  return out;
}

std::optional<std::wstring> CFakePasswordProtector::Unprotect(const ByteString& protectedBytes) {
  if (protectedBytes.size() < 6 || std::memcmp(protectedBytes.data(), kFakeMagic, 4) != 0 ||
      protectedBytes[4] != user_) {
    return std::nullopt;
  }
  ByteString plain;
  std::uint8_t sum = 0;
  for (std::size_t i = 5; i + 1 < protectedBytes.size(); ++i) {
    plain.push_back(static_cast<std::uint8_t>(protectedBytes[i] ^ 0x5a ^ user_));
    sum = static_cast<std::uint8_t>(sum + plain.back());
  }
  if (sum != protectedBytes.back()) return std::nullopt;
  return PasswordFromUtf16Bytes(plain.data(), plain.size());
}

CScopedFakeSettings::CScopedFakeSettings(std::uint8_t user)
    : store_(std::make_shared<CFakeSettingsStore>()), protector_(std::make_shared<CFakePasswordProtector>(user)) {
  SetSettingsStore(store_);
  SetPasswordProtector(protector_);
}
CScopedFakeSettings::~CScopedFakeSettings() {
  SetSettingsStore(nullptr);
  SetPasswordProtector(nullptr);
}

CScopedSettingsPlaces::CScopedSettingsPlaces(const SettingsPlaces& places) : previous_(CurrentSettingsPlaces()) {
  RedirectSettingsPlaces(places);
}
CScopedSettingsPlaces::~CScopedSettingsPlaces() { RedirectSettingsPlaces(previous_); }
