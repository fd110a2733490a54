// Where the Linux build keeps the settings; declared for its tests.
#pragma once
#include <string>

constexpr wchar_t kSettingsFileName[] = L"settings.conf";
constexpr wchar_t kPasswordKeyFileName[] = L"password.key";

// $XDG_CONFIG_HOME/quillnet/, else ~/.config/quillnet/; empty without a home.
std::wstring DefaultUserSettingsFolder();
// The machine-wide folder when it exists or can be made and we may write
// there, else the per-user one (created). Both end with '/'.
std::wstring ResolveProgramDataFolder(const std::wstring& machineFolder, const std::wstring& userFolder);
