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
// Creates the program data folder (and its parents) with its own
// protection, or puts that back on a folder found weaker and removes what
// others planted there. Windows:
// SYSTEM and administrators full control, users read, nothing inherited.
bool SecureProgramDataFolder(const std::wstring& folder);
// A folder only administrators (root) can write to, made or repaired like
// the program data folder; what others planted there is removed.
bool SecureDownloadFolder(const std::wstring& folder);

#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
#else
constexpr wchar_t kPathSeparator = L'/';
#endif
