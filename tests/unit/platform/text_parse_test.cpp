#include "platform/text_parse.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

// Both address readers over one table, so where they differ is in plain view.
TEST(Ipv4Text, StrictAndLenientReadingsSideBySide) {
  struct Case {
    const wchar_t* text;
    const wchar_t* strict;   // dotted result, or null when refused
    const wchar_t* lenient;
  } cases[] = {
      {L"10.0.0.1", L"10.0.0.1", L"10.0.0.1"},
      {L"0.0.0.0", L"0.0.0.0", L"0.0.0.0"},
      {L"255.255.255.255", L"255.255.255.255", L"255.255.255.255"},
      {L"10.1", nullptr, L"10.0.0.1"},  // short forms fill the last part
      {L"10.1.2", nullptr, L"10.1.0.2"},
      {L"0x0a.010.0.1", nullptr, L"10.8.0.1"},  // hex and octal parts
      {L"010.0.0.1", nullptr, L"8.0.0.1"},
      {L"167772161", nullptr, L"10.0.0.1"},
      {L"10.0.0.1 trailing", nullptr, L"10.0.0.1"},
      {L"1.2.3.4 ", nullptr, L"1.2.3.4"},
      {L" 1.2.3.4", nullptr, nullptr},
      {L"", nullptr, nullptr},
      {L"vpn.example.com", nullptr, nullptr},
      {L"a.b.c.d", nullptr, nullptr},
      {L"10.0.0.256", nullptr, nullptr},
      {L"256.1.1.1", nullptr, nullptr},
      {L"10.0.0.1.5", nullptr, nullptr},
      {L"10..0.1", nullptr, nullptr},
      {L"08.0.0.1", nullptr, nullptr},
      {L"4294967296", nullptr, nullptr},
      {L"1.2.3.4x", nullptr, nullptr},
      {L"1.2.3.1234", nullptr, nullptr},
      {L"::1", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    std::uint32_t strict = 0, lenient = 0;
    EXPECT_EQ(ParseIpv4Strict(c.text, strict), c.strict != nullptr) << c.text;
    if (c.strict) {
      EXPECT_EQ(FormatIpv4(strict), c.strict) << c.text;
    }
    EXPECT_EQ(ParseIpv4Lenient(c.text, lenient), c.lenient != nullptr) << c.text;
    if (c.lenient) {
      EXPECT_EQ(FormatIpv4(lenient), c.lenient) << c.text;
    }
  }
}

TEST(Ipv4Text, AddressesAreInNetworkOrderInMemory) {
  std::uint32_t a = 0, b = 0;
  ASSERT_TRUE(ParseIpv4Strict(L"10.8.0.6", a));
  ASSERT_TRUE(ParseIpv4Lenient(L"10.8.0.6", b));
  const unsigned char expected[4] = {10, 8, 0, 6};
  EXPECT_EQ(std::memcmp(&a, expected, 4), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(NetToHost(a), 0x0A080006u);
}

TEST(TextRules, TrimmingAndCaseAreAsciiOnly) {
  struct Case {
    const wchar_t* text;
    const wchar_t* trimmed;
  } cases[] = {
      {L"  a b \t", L"a b"},
      {L"\r\n\v\fx\f\v\n\r", L"x"},
      {L"\x00a0x\x3000", L"\x00a0x\x3000"},  // a locale's spaces are text
      {L"", L""},
      {L" \t ", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(TrimAsciiSpace(std::wstring_view(c.text)), c.trimmed);
  EXPECT_EQ(TrimAsciiSpace(std::string_view(" \tv=1\r\n")), "v=1");
  EXPECT_EQ(TrimProfileBlanks(std::string_view("\x1a key \x1a")), "key");
  EXPECT_EQ(TrimAsciiSpace(std::string_view("\x1a key")), "\x1a key") << "only profile files know the mark";
  EXPECT_EQ(ToLowerAscii(std::wstring_view(L"MASK \x00c9T\x0130")), L"mask \x00c9t\x0130");
  EXPECT_TRUE(EqualsNoCaseAscii(std::wstring_view(L"OpenVPN"), std::wstring_view(L"openvpn")));
  EXPECT_FALSE(EqualsNoCaseAscii(std::wstring_view(L"\x00c9"), std::wstring_view(L"\x00e9")));
  EXPECT_FALSE(EqualsNoCaseAscii(std::string_view("ab"), std::string_view("abc")));
}

TEST(CaseFold, AsciiOnly) {
  EXPECT_TRUE(EqualsNoCaseAscii(std::string_view("AuthResult"), std::string_view("authRESULT")));
  EXPECT_FALSE(EqualsNoCaseAscii(std::string_view("a"), std::string_view("ab")));
  EXPECT_TRUE(EqualsNoCaseAscii(std::wstring_view(L"Servers"), std::wstring_view(L"SERVERS")));
  EXPECT_FALSE(EqualsNoCaseAscii(std::string_view("\xC3\xA9"), std::string_view("\xC3\x89")));
  EXPECT_EQ(ToLowerAscii("MiXed_1"), "mixed_1");
}

TEST(TextRules, IntegersReadLikeTheCLibraryButSaturate) {
  struct Case {
    const char* text;
    int base;
    std::int64_t min, max;
    std::int64_t value;
    std::size_t used;
    bool saturated;
  } cases[] = {
      {"42", 10, INT32_MIN, INT32_MAX, 42, 2, false},
      {"  -17xyz", 10, INT32_MIN, INT32_MAX, -17, 5, false},
      {"+8", 10, INT32_MIN, INT32_MAX, 8, 2, false},
      {"0x1F", 0, INT32_MIN, INT32_MAX, 31, 4, false},
      {"0X1f", 16, INT32_MIN, INT32_MAX, 31, 4, false},
      {"017", 0, INT32_MIN, INT32_MAX, 15, 3, false},
      {"09", 0, INT32_MIN, INT32_MAX, 0, 1, false},  // octal stops at the 9
      {"0x", 0, INT32_MIN, INT32_MAX, 0, 1, false},  // the 0 is the number
      {"017", 10, INT32_MIN, INT32_MAX, 17, 3, false},
      {"2147483647", 10, INT32_MIN, INT32_MAX, INT32_MAX, 10, false},
      {"2147483648", 10, INT32_MIN, INT32_MAX, INT32_MAX, 10, true},
      {"-2147483648", 10, INT32_MIN, INT32_MAX, INT32_MIN, 11, false},
      {"-2147483649", 10, INT32_MIN, INT32_MAX, INT32_MIN, 11, true},
      {"99999999999999999999999", 10, INT64_MIN, INT64_MAX, INT64_MAX, 23, true},
      {"-9223372036854775808", 10, INT64_MIN, INT64_MAX, INT64_MIN, 20, false},
      {"-5", 10, 0, 100, 0, 2, true},
      {"", 10, INT32_MIN, INT32_MAX, 0, 0, false},
      {"  -", 10, INT32_MIN, INT32_MAX, 0, 0, false},
      {"abc", 0, INT32_MIN, INT32_MAX, 0, 0, false},
  };
  for (const Case& c : cases) {
    const IntRead narrow = ReadInt(std::string_view(c.text), c.base, c.min, c.max);
    EXPECT_EQ(narrow.value, c.value) << c.text;
    EXPECT_EQ(narrow.used, c.used) << c.text;
    EXPECT_EQ(narrow.saturated, c.saturated) << c.text;
    const std::wstring wide(c.text, c.text + std::strlen(c.text));
    const IntRead w = ReadInt(std::wstring_view(wide), c.base, c.min, c.max);
    EXPECT_EQ(w.value, c.value) << c.text;
    EXPECT_EQ(w.used, c.used) << c.text;
  }
}

}  // namespace
