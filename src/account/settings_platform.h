// What each platform supplies behind the setting functions. Only the
// settings implementation and its tests include this.
#pragma once
#include <memory>
#include <string>

#include "account/settings.h"

// userRoot empty: the platform's own place.
std::shared_ptr<ISettingsStore> MakePlatformSettingsStore(const std::wstring& userRoot);
std::shared_ptr<IPasswordProtector> MakePlatformPasswordProtector(const std::wstring& userRoot);

// The running executable's full path; empty when the system will not say.
std::wstring PlatformExecutablePath();
// The program data folder the platform chooses, with its trailing separator.
// May create it (choosing can mean trying whether a folder can be made).
std::wstring PlatformProgramDataFolder();
// Creates the folder with every missing parent; true when it exists after.
bool CreateFolderWithParents(const std::wstring& folder);

#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
#else
constexpr wchar_t kPathSeparator = L'/';
#endif
