// The small text rules every layer shares: white space, ASCII case, IPv4
// addresses and integers. One home, so that "trimmed" or "an address" means
// the same in a login reply, a route file, a skin definition and a probe.
// None of them depends on the locale: the same text reads the same on every
// machine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// White space is the C locale's: space, \t, \n, \v, \f and \r.
bool IsAsciiSpace(wchar_t c);
std::string_view TrimAsciiSpace(std::string_view s);
std::wstring_view TrimAsciiSpace(std::wstring_view s);
// Profile (INI) files also take the old end-of-file mark 0x1A for a blank,
// as the platform's own reader does.
std::string_view TrimProfileBlanks(std::string_view s);

// ASCII-only case folding: names in documents and keys are ASCII, and a
// locale-dependent fold would make lookups differ between machines.
wchar_t LowerAscii(wchar_t c);
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
bool EqualsNoCaseAscii(std::wstring_view a, std::wstring_view b);
std::string ToLowerAscii(std::string_view s);
std::wstring ToLowerAscii(std::wstring_view s);

// IPv4 addresses are kept in network byte order, as they sit in a socket
// address.
//
// Strict: exactly four decimal parts of 0-255, no leading zeros, nothing
// before or after. For addresses we send packets to, where "010.1.1.1"
// must not quietly become 8.1.1.1.
bool ParseIpv4Strict(std::wstring_view text, std::uint32_t& address);
// Lenient: the classic inet_addr rules for route entries and settings:
// one to four parts, each decimal, octal (leading 0) or hex (0x); white
// space ends the address and what follows is ignored.
bool ParseIpv4Lenient(std::wstring_view text, std::uint32_t& address);
std::wstring FormatIpv4(std::uint32_t address);
std::uint32_t HostToNet(std::uint32_t value);
inline std::uint32_t NetToHost(std::uint32_t value) { return HostToNet(value); }

// An integer read the way the C library's strtoll reads one: leading white
// space, an optional sign, then digits. Base 0 is automatic (0x hex, a
// leading 0 octal, else decimal). The value saturates at [min, max]
// instead of wrapping. `used` is 0 when no digit was read (value 0).
struct IntRead {
  std::int64_t value = 0;
  std::size_t used = 0;
  bool saturated = false;
};
IntRead ReadInt(std::string_view text, int base, std::int64_t min, std::int64_t max);
IntRead ReadInt(std::wstring_view text, int base, std::int64_t min, std::int64_t max);

inline std::int64_t ParseIntAutoBase(std::string_view text, std::int64_t min, std::int64_t max) {
  return ReadInt(text, 0, min, max).value;
}
inline std::int64_t ParseIntDecimal(std::wstring_view text, std::int64_t min, std::int64_t max) {
  return ReadInt(text, 10, min, max).value;
}
