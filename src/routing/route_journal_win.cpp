#include "platform/win32.h"
#include "routing/route_journal.h"

// The boot time in seconds: the clock less the time since boot. Readings
// wobble a little, which SameBoot allows for.
std::string CurrentBootId() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const ULONGLONG nowUnits = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const ULONGLONG bootUnits = nowUnits - GetTickCount64() * 10000ULL;
  return std::to_string(bootUnits / 10000000ULL);
}
