// Test helper run under Wine beside the client:
//   gui_probe wait TITLE SECONDS   exit 0 once a top-level window of that title is visible
//   gui_probe close TITLE SECONDS  post WM_CLOSE and wait for the window to go
//   gui_probe version EXE          print FileVersion and BuildDate from the version resource
#include "platform/win32.h"

#include <cstdio>
#include <string>

namespace {

HWND FindVisible(const wchar_t* title) {
  HWND w = FindWindowW(nullptr, title);
  return (w && IsWindowVisible(w)) ? w : nullptr;
}

int WaitFor(const wchar_t* title, int seconds, bool present) {
  for (int i = 0; i < seconds * 10; ++i) {
    if ((FindVisible(title) != nullptr) == present) return 0;
    Sleep(100);
  }
  return 1;
}

std::wstring VersionValue(const std::wstring& exe, const wchar_t* name) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
  if (!size) return L"";
  std::string data(size, '\0');
  if (!GetFileVersionInfoW(exe.c_str(), 0, size, data.data())) return L"";
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
  void* value = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), path.c_str(), &value, &len) || !value) return L"";
  return static_cast<const wchar_t*>(value);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring verb = argv[1];
  if (verb == L"wait") return WaitFor(argv[2], argc > 3 ? _wtoi(argv[3]) : 30, true);
  if (verb == L"close") {
    HWND w = FindVisible(argv[2]);
    if (!w) return 1;
    PostMessageW(w, WM_CLOSE, 0, 0);
    return WaitFor(argv[2], argc > 3 ? _wtoi(argv[3]) : 10, false);
  }
  if (verb == L"version") {
    wprintf(L"FileVersion=%ls\nBuildDate=%ls\n", VersionValue(argv[2], L"FileVersion").c_str(),
            VersionValue(argv[2], L"BuildDate").c_str());
    return 0;
  }
  return 2;
}
