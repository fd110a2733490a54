// The platform halves of the TAP driver code. Only tap_driver*.cpp use them.
#pragma once
#include <string>
#include <vector>

#ifdef _WIN32
constexpr wchar_t kTapPathSeparator = L'\\';
#else
constexpr wchar_t kTapPathSeparator = L'/';
#endif

// Whether Windows itself is 64-bit: the process is native x64, or a 32-bit
// process under WOW64. False elsewhere.
bool RunsOn64BitWindows();
// The files that must exist, in the order they are checked.
std::vector<std::wstring> OpenVpnComponentFiles(const std::wstring& openVpnDir, const std::wstring& driverDir);
// The program itself: on Windows one of the files above; on Linux the
// shipped one or the system's.
bool OpenVpnProgramAvailable(const std::wstring& openVpnDir);
