#include "platform/text_parse.h"

#include <bit>

namespace {

template <typename Ch>
bool Space(Ch c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

template <typename View, typename Pred>
View TrimBy(View s, Pred blank) {
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

template <typename Ch>
Ch Lower(Ch c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Ch>(c + ('a' - 'A')) : c;
}

template <typename View>
bool EqualsNoCase(View a, View b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

template <typename Ch>
int DigitValue(Ch c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

template <typename Ch>
IntRead ReadIntOf(std::basic_string_view<Ch> text, int base, std::int64_t min, std::int64_t max) {
  IntRead out;
  std::size_t i = 0;
  while (i < text.size() && Space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const bool hexPrefix = i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
                         DigitValue(text[i + 2]) < 16;
  if (base == 0) {
    base = 10;
    if (hexPrefix) {
      base = 16;
      i += 2;
    } else if (i < text.size() && text[i] == '0') {
      base = 8;
    }
  } else if (base == 16 && hexPrefix) {
    i += 2;
  }
  // Accumulate as a magnitude and saturate at the limit of the sign's side.
  std::uint64_t limit = 0;
  if (negative && min < 0) limit = static_cast<std::uint64_t>(-(min + 1)) + 1;
  if (!negative && max > 0) limit = static_cast<std::uint64_t>(max);
  const auto b = static_cast<std::uint64_t>(base);
  std::uint64_t value = 0;
  const std::size_t first = i;
  for (; i < text.size(); ++i) {
    const int d = DigitValue(text[i]);
    if (d >= base) break;
    if (out.saturated) continue;
    if (value > limit / b || static_cast<std::uint64_t>(d) > limit - value * b)
      out.saturated = true;
    else
      value = value * b + static_cast<std::uint64_t>(d);
  }
  if (i == first) return {};
  out.used = i;
  if (out.saturated) {
    out.value = negative ? (min < 0 ? min : 0) : (max > 0 ? max : 0);
  } else if (negative) {
    out.value = value == 0 ? 0 : -static_cast<std::int64_t>(value - 1) - 1;
  } else {
    out.value = static_cast<std::int64_t>(value);
  }
  if (out.value < min || out.value > max) {
    out.value = out.value < min ? min : max;
    out.saturated = true;
  }
  return out;
}

}  // namespace

bool IsAsciiSpace(wchar_t c) { return Space(c); }
std::string_view TrimAsciiSpace(std::string_view s) { return TrimBy(s, Space<char>); }
std::wstring_view TrimAsciiSpace(std::wstring_view s) { return TrimBy(s, Space<wchar_t>); }
std::string_view TrimProfileBlanks(std::string_view s) {
  return TrimBy(s, [](char c) { return Space(c) || c == '\x1a'; });
}

wchar_t LowerAscii(wchar_t c) { return Lower(c); }
bool EqualsNoCaseAscii(std::string_view a, std::string_view b) { return EqualsNoCase(a, b); }
bool EqualsNoCaseAscii(std::wstring_view a, std::wstring_view b) { return EqualsNoCase(a, b); }
std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}
std::wstring ToLowerAscii(std::wstring_view s) {
  std::wstring out(s);
  for (wchar_t& c : out) c = Lower(c);
  return out;
}

std::uint32_t HostToNet(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little)
    return (value >> 24) | (value >> 8 & 0xFF00u) | (value << 8 & 0xFF0000u) | (value << 24);
  return value;
}

bool ParseIpv4Strict(std::wstring_view text, std::uint32_t& address) {
  std::uint32_t host = 0;
  std::size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != L'.') return false;
      ++i;
    }
    const std::size_t start = i;
    unsigned value = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9' && i - start < 3)
      value = value * 10 + static_cast<unsigned>(text[i++] - L'0');
    const std::size_t digits = i - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == L'0')) return false;
    host = host << 8 | value;
  }
  if (i != text.size()) return false;
  address = HostToNet(host);
  return true;
}

bool ParseIpv4Lenient(std::wstring_view text, std::uint32_t& address) {
  std::uint64_t parts[4] = {};
  int count = 0;
  std::size_t i = 0;
  for (;;) {
    if (i >= text.size() || DigitValue(text[i]) > 9) return false;
    int base = 10;
    if (text[i] == L'0') {
      base = 8;
      ++i;
      if (i < text.size() && (text[i] == L'x' || text[i] == L'X')) {
        base = 16;
        ++i;
      }
    }
    std::uint64_t value = 0;
    bool any = base == 8;  // a lone "0" is a number
    while (i < text.size() && DigitValue(text[i]) < base) {
      value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(DigitValue(text[i]));
      if (value > 0xFFFFFFFFull) return false;
      any = true;
      ++i;
    }
    if (!any) return false;
    parts[count++] = value;
    if (i < text.size() && text[i] == L'.') {
      if (count == 4) return false;
      ++i;
      continue;
    }
    if (i < text.size() && !Space(text[i])) return false;
    break;
  }
  std::uint64_t host = 0;
  switch (count) {
    case 1:
      host = parts[0];
      break;
    case 2:
      if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return false;
      host = parts[0] << 24 | parts[1];
      break;
    case 3:
      if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return false;
      host = parts[0] << 24 | parts[1] << 16 | parts[2];
      break;
    default:
      for (int k = 0; k < 4; ++k)
        if (parts[k] > 0xFF) return false;
      host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
  }
  address = HostToNet(static_cast<std::uint32_t>(host));
  return true;
}

std::wstring FormatIpv4(std::uint32_t address) {
  const std::uint32_t h = NetToHost(address);
  return std::to_wstring(h >> 24) + L'.' + std::to_wstring(h >> 16 & 0xFF) + L'.' + std::to_wstring(h >> 8 & 0xFF) +
         L'.' + std::to_wstring(h & 0xFF);
}

IntRead ReadInt(std::string_view text, int base, std::int64_t min, std::int64_t max) {
  return ReadIntOf(text, base, min, max);
}
IntRead ReadInt(std::wstring_view text, int base, std::int64_t min, std::int64_t max) {
  return ReadIntOf(text, base, min, max);
}
