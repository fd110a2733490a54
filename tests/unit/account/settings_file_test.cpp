#include "account/settings_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

struct RoundTrip {
  const char* what;
  std::wstring section, name, text;
};

TEST(SettingsFile, TextsAndNamesSurviveAWriteAndAParse) {
  const RoundTrip cases[] = {
      {"plain", L"Main", L"Username", L"alice"},
      {"empty text", L"Main", L"Username", L""},
      {"line breaks and tabs", L"Main", L"Note", L"one\ntwo\r\nthree\tfour"},
      {"backslashes", L"Main", L"Path", L"C:\\Program Files\\x\\"},
      {"escape look-alikes", L"Main", L"Trick", L"\\n is not a line break, \\x41 is not A"},
      {"equals in name and text", L"Main", L"a=b", L"c=d"},
      {"layout characters in names", L"[odd] section", L"#not;a comment]", L"[Main]"},
      {"leading and trailing blanks", L" Main ", L" name ", L"  padded  "},
      {"non-ASCII", L"Haupt", L"Benutzer", L"J\u00fcrgen \u4e2d\u6587 \u20ac"},
      {"control characters", L"Main", L"Ctl", std::wstring(L"a\x01" L"b\x7f" L"c")},
  };
  for (const RoundTrip& c : cases) {
    CSettingsFile file;
    file.WriteString(c.section, c.name, c.text);
    const std::string bytes = file.Format();
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 2) << c.what << ": one header, one value line";
    const CSettingsFile back = CSettingsFile::Parse(bytes);
    EXPECT_EQ(back.ReadString(c.section, c.name), std::optional<std::wstring>(c.text)) << c.what;
  }
}

TEST(SettingsFile, TypesStayApart) {
  CSettingsFile file;
  file.WriteInt(L"Main", L"Number", -7);
  file.WriteString(L"Main", L"Text", L"42");
  file.WriteBinary(L"Main", L"Bytes", ByteString{0x00, 0xff, 0x10});
  const CSettingsFile back = CSettingsFile::Parse(file.Format());

  EXPECT_EQ(back.ReadInt(L"Main", L"Number"), -7);
  EXPECT_EQ(back.ReadString(L"Main", L"Number"), std::nullopt);
  EXPECT_EQ(back.ReadBinary(L"Main", L"Number"), std::nullopt);
  EXPECT_EQ(back.ReadInt(L"Main", L"Text"), std::nullopt);
  EXPECT_EQ(back.ReadString(L"Main", L"Text"), L"42");
  EXPECT_EQ(back.ReadBinary(L"Main", L"Bytes"), (ByteString{0x00, 0xff, 0x10}));
  EXPECT_EQ(back.ReadString(L"Main", L"Bytes"), std::nullopt);
}

TEST(SettingsFile, IntegerAndByteLimits) {
  CSettingsFile file;
  file.WriteInt(L"S", L"Min", std::numeric_limits<std::int32_t>::min());
  file.WriteInt(L"S", L"Max", std::numeric_limits<std::int32_t>::max());
  file.WriteBinary(L"S", L"Empty", ByteString{});
  ByteString all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  file.WriteBinary(L"S", L"All", all);
  const CSettingsFile back = CSettingsFile::Parse(file.Format());
  EXPECT_EQ(back.ReadInt(L"S", L"Min"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(back.ReadInt(L"S", L"Max"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(back.ReadBinary(L"S", L"Empty"), ByteString{});
  EXPECT_EQ(back.ReadBinary(L"S", L"All"), all);
}

TEST(SettingsFile, HandEditedValuesThatDoNotReadGiveNothing) {
  struct Case {
    const char* line;
  } cases[] = {
      {"V=i:12abc"}, {"V=i:99999999999"}, {"V=i:+5"}, {"V=i:"}, {"V=i: 5"},     {"V=b:abc"},
      {"V=b:zz"},    {"V=s:bad\\q"},      {"V=s:end\\"}, {"V=s:\\x4"}, {"V=x:1"}, {"V=5"},
  };
  for (const Case& c : cases) {
    const CSettingsFile file = CSettingsFile::Parse(std::string("[S]\n") + c.line + "\n");
    EXPECT_EQ(file.ReadInt(L"S", L"V"), std::nullopt) << c.line;
    EXPECT_EQ(file.ReadString(L"S", L"V"), std::nullopt) << c.line;
    EXPECT_EQ(file.ReadBinary(L"S", L"V"), std::nullopt) << c.line;
  }
}

TEST(SettingsFile, WhatItDoesNotUnderstandIsWrittenBackUnchanged) {
  const std::string original =
      "# written by hand\n"
      "[Main]\n"
      "; a comment\n"
      "Username=s:bob\n"
      "garbage without equals\n"
      "Future=z:something new\n"
      "\xff\xfe binary junk=\n"
      "\n"
      "[Br\\qoken header]\n"
      "Hidden=i:5\n";
  CSettingsFile file = CSettingsFile::Parse(original);
  EXPECT_EQ(file.ReadString(L"Main", L"Username"), L"bob");
  // A header that does not decode hides its values instead of lending them
  // to the section before it.
  EXPECT_EQ(file.ReadInt(L"Main", L"Hidden"), std::nullopt);
  EXPECT_EQ(file.Format(), original);

  file.WriteInt(L"Main", L"SavePassword", 1);
  const std::string changed = file.Format();
  for (const char* kept : {"# written by hand\n", "; a comment\n", "garbage without equals\n",
                           "Future=z:something new\n", "\xff\xfe binary junk=\n", "[Br\\qoken header]\nHidden=i:5\n"}) {
    EXPECT_NE(changed.find(kept), std::string::npos) << kept;
  }
  EXPECT_EQ(CSettingsFile::Parse(changed).ReadInt(L"Main", L"SavePassword"), 1);
}

TEST(SettingsFile, WindowsLineEndsRead) {
  const CSettingsFile file = CSettingsFile::Parse("[Main]\r\nUsername=s:carol\r\nSavePassword=i:0\r\n");
  EXPECT_EQ(file.ReadString(L"Main", L"Username"), L"carol");
  EXPECT_EQ(file.ReadInt(L"Main", L"SavePassword"), 0);
}

TEST(SettingsFile, NamesCompareWithoutCaseAndOneValuePerName) {
  CSettingsFile file = CSettingsFile::Parse(
      "[Main]\nUserName=s:first\nUSERNAME=s:second\n[main]\nusername=s:third\nOther=i:1\n");
  EXPECT_EQ(file.ReadString(L"MAIN", L"username"), L"first");

  file.WriteString(L"main", L"USERNAME", L"new");
  const std::string bytes = file.Format();
  EXPECT_NE(bytes.find("UserName=s:new"), std::string::npos) << bytes;  // keeps the stored spelling
  EXPECT_EQ(bytes.find("second"), std::string::npos) << bytes;
  EXPECT_EQ(bytes.find("third"), std::string::npos) << bytes;
  EXPECT_EQ(CSettingsFile::Parse(bytes).ReadInt(L"Main", L"Other"), 1);
}

TEST(SettingsFile, Deletion) {
  CSettingsFile file = CSettingsFile::Parse("[Main]\nA=i:1\nB=i:2\n[Proxy]\nType=i:1\n[main]\nA=i:3\n");
  EXPECT_TRUE(file.DeleteValue(L"Main", L"a"));
  EXPECT_EQ(file.ReadInt(L"Main", L"A"), std::nullopt) << "every copy goes";
  EXPECT_EQ(file.ReadInt(L"Main", L"B"), 2);
  EXPECT_FALSE(file.DeleteValue(L"Main", L"A"));

  EXPECT_TRUE(file.DeleteSection(L"MAIN"));
  EXPECT_EQ(file.ReadInt(L"Main", L"B"), std::nullopt);
  EXPECT_EQ(file.ReadInt(L"Proxy", L"Type"), 1);
  EXPECT_FALSE(file.DeleteSection(L"Main"));
  EXPECT_EQ(file.Format(), "[Proxy]\nType=i:1\n");
}

TEST(SettingsFile, NewValueGoesBeforeTrailingBlankLines) {
  CSettingsFile file = CSettingsFile::Parse("[Main]\nA=i:1\n\n[Proxy]\nType=i:0\n");
  file.WriteInt(L"Main", L"B", 2);
  EXPECT_EQ(file.Format(), "[Main]\nA=i:1\nB=i:2\n\n[Proxy]\nType=i:0\n");
}

}  // namespace
