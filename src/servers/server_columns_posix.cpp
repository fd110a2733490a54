#include <cwchar>
#include <cwctype>

#include "servers/server_columns.h"

int CompareTextNoCase(const std::wstring& a, const std::wstring& b) {
  std::wstring x = a;
  std::wstring y = b;
  for (wchar_t& c : x) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  for (wchar_t& c : y) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  const int result = std::wcscoll(x.c_str(), y.c_str());
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}
