#include "platform/strings.h"

// Linux has no ANSI code page; UTF-8 is the system's narrow encoding.
std::wstring NarrowToWide(std::string_view bytes) { return Utf8ToWide(bytes); }
std::string WideToNarrow(std::wstring_view text) { return WideToUtf8(text); }
