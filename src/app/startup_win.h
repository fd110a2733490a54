// The Win32 start-up steps that need no window: what the application
// object's IStartupPorts calls.
#pragma once
#ifdef _WIN32
#include <cstdint>
#include <string>

inline constexpr const wchar_t* kSingleInstanceMutexName =
    L"Global\\VELDTRUN_SINGLE_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";
inline constexpr const wchar_t* kBindModuleFileName = L"QuillnetBind.dll";

// Seeds the request generator with the current time.
void SeedRandomFromClock();
// Starts the socket library, makes and closes one TCP socket so the
// providers load, stops the library; true when the bind module is then
// loaded into the process.
bool LoadSocketProvidersWin();
// The module's DllRegisterServer or DllUnregisterServer result; 1 when the
// module or the export is missing.
std::uint32_t RegisterBindModuleWin(bool doRegister, const wchar_t* moduleName = kBindModuleFileName);
// Lets lower-integrity processes drop files on our windows, where the
// system has the filter call.
void AllowDroppedFilesWin();
// Creates the mutex initially owned; `existed` tells whether another
// process had it. The handle (or null) is the caller's to close.
void* CreateSingleInstanceMutex(const wchar_t* name, bool& existed);
#endif
