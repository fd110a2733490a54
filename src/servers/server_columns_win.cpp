#include "platform/win32.h"

#include "servers/server_columns.h"

int CompareTextNoCase(const std::wstring& a, const std::wstring& b) {
  const int result = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                                    b.c_str(), static_cast<int>(b.size()));
  if (result == 0) return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
  return result - CSTR_EQUAL;
}
