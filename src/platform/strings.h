// Conversions between wide text and bytes. Nothing else in the code base
// converts: the narrow code page is the ANSI code page on Windows and UTF-8
// elsewhere; UTF-8 decoding never fails (bad bytes become U+FFFD).
#pragma once
#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view bytes);
std::string WideToUtf8(std::wstring_view text);
// One code point in UTF-8, surrogates included (their three bytes), which
// lets a UTF-16 file's stray surrogate survive a round trip through UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

std::wstring NarrowToWide(std::string_view bytes);
std::string WideToNarrow(std::wstring_view text);
