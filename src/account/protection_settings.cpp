#include "account/protection_settings.h"

#include "account/settings.h"

namespace {

constexpr wchar_t kMain[] = L"Main";

// Only an explicit 0 turns a protection off; anything else written there
// (by hand, by another version) leaves it on.
bool ReadOn(const wchar_t* name) { return GetSettingInt(kMain, name, 1) != 0; }

}  // namespace

ProtectionSettings ReadProtectionSettings() {
  ProtectionSettings settings;
  settings.leakProtection = ReadOn(L"LeakProtection");
  settings.allowLocalNetwork = ReadOn(L"AllowLocalNetwork");
  settings.reconnect = ReadOn(L"AutoReconnect");
  return settings;
}

void WriteProtectionSettings(const ProtectionSettings& settings) {
  SetSettingInt(kMain, L"LeakProtection", settings.leakProtection ? 1 : 0);
  SetSettingInt(kMain, L"AllowLocalNetwork", settings.allowLocalNetwork ? 1 : 0);
  SetSettingInt(kMain, L"AutoReconnect", settings.reconnect ? 1 : 0);
}
