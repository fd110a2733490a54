// The Win32 start-up steps that need no window: what the application
// object's IStartupPorts calls.
#pragma once
#ifdef _WIN32
#include <cstdint>
#include <string>

inline constexpr const wchar_t* kSingleInstanceMutexName =
    L"Global\\VELDTRUN_SINGLE_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";

// Seeds the request generator with the current time.
void SeedRandomFromClock();
// Bind module registration and its "active" test live with the module's
// client side (accel/bind_module.h).
// Lets lower-integrity processes drop files on our windows, where the
// system has the filter call.
void AllowDroppedFilesWin();
// Creates the mutex initially owned; `existed` tells whether another
// process had it. The handle (or null) is the caller's to close.
void* CreateSingleInstanceMutex(const wchar_t* name, bool& existed);
// Where QUILLNET_STARTUP_TRACE is 1, appends "STEP MS" to startup-trace.txt
// beside the executable: the milliseconds since this process was created.
// For profiling a start.
void TraceStartupStep(const char* step);
#endif
