// Started by the application launcher's tests with no arguments: it leaves
// a marker beside itself and signals the test's event.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  const std::wstring marker = std::wstring(path, n) + L".ran";
  HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const DWORD pid = GetCurrentProcessId();
  DWORD written = 0;
  WriteFile(file, &pid, sizeof pid, &written, nullptr);
  CloseHandle(file);
  if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Local\\QuillnetBindMarkerTest")) {
    SetEvent(event);
    CloseHandle(event);
  }
  return 0;
}
