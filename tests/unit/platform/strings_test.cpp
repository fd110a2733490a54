#include "platform/strings.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8, DecodingNeverFails) {
  struct Case {
    const char* name;
    std::string bytes;
    std::wstring expected;
  } cases[] = {
      {"ascii", "abc", L"abc"},
      {"two bytes", "\xC3\xA9", L"\x00E9"},
      {"three bytes", "\xE2\x82\xAC", L"\x20AC"},
      {"four bytes", "\xF0\x9F\x98\x80", std::wstring(L"\U0001F600")},
      {"lone continuation", "a\x80z", L"a\xFFFDz"},
      {"overlong slash", "\xC0\xAF", L"\xFFFD\xFFFD"},
      {"overlong three", "\xE0\x80\xAF", L"\xFFFD\xFFFD\xFFFD"},
      {"surrogate", "\xED\xA0\x80", L"\xFFFD\xFFFD\xFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", L"\xFFFD\xFFFD\xFFFD\xFFFD"},
      {"truncated at end", "ok\xE2\x82", L"ok\xFFFD"},
      {"truncated before ascii", "\xE2\x82z", L"\xFFFDz"},
      {"invalid lead", "\xFF\xFE", L"\xFFFD\xFFFD"},
      {"embedded nul", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToWide(c.bytes), c.expected) << c.name;
}

TEST(Utf8, EncodingRoundTrips) {
  const std::wstring samples[] = {L"", L"plain", L"\x00E9\x20AC\x65B0", std::wstring(L"\U0001F600 x")};
  for (const std::wstring& s : samples) EXPECT_EQ(Utf8ToWide(WideToUtf8(s)), s);
  EXPECT_EQ(WideToUtf8(std::wstring(L"\U0001F600")), "\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Narrow, AsciiSurvivesTheCodePage) {
  EXPECT_EQ(NarrowToWide("Account 123"), L"Account 123");
  EXPECT_EQ(WideToNarrow(L"Account 123"), "Account 123");
}

}  // namespace
