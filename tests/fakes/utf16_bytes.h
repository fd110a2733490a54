// Files as editors that save "Unicode" write them: UTF-16 with a byte order
// mark. Only the low 16 bits of each wchar_t count, so the same test text
// gives the same bytes on both platforms.
#pragma once
#include <string>
#include <string_view>

inline std::string Utf16Bytes(std::wstring_view text, bool bigEndian, bool withMark = true) {
  std::string out = withMark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
  for (wchar_t c : text) {
    const char hi = static_cast<char>((c >> 8) & 0xFF), lo = static_cast<char>(c & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}
