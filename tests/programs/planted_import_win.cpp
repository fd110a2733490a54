// A program that imports a function Windows 7 lacks, so the import check is
// seen to refuse one.
#include <windows.h>

extern "C" __declspec(dllimport) void WINAPI GetSystemTimePreciseAsFileTime(LPFILETIME time);

int wmain() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return static_cast<int>(now.dwLowDateTime & 1);
}
