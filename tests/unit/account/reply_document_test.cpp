#include "account/reply_document.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <random>
#include <thread>

#include "fakes/temp_dir.h"
#include "fakes/utf16_bytes.h"
#include "platform/file_io.h"
#include "platform/strings.h"

namespace {

const std::string kMarker = "MagicTag=VpnServerResponse";

TEST(ReplyMarker, NeedsAByteAfterTheMarker) {
  struct Case {
    std::string body;
    bool expected;
  } cases[] = {
      {kMarker, false},
      {kMarker + "\n", true},
      {"magictag=vpnserverresponse\n", false},
      {"[VPN]\r\nAuthResult=OK\r\n" + kMarker + "\r\n[Servers]\r\n", true},
      {"junk" + kMarker, false},
      {kMarker + "junk" + kMarker, true},
      {"", false},
      {std::string(kMarker.data(), 25) + "\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HasReplyMarker(c.body.data(), c.body.size()), c.expected) << c.body;
  EXPECT_FALSE(HasReplyMarker(nullptr, 100));
}

TEST(SectionNames, EscapeAndUnescape) {
  struct Case {
    std::wstring name, escaped;
  } cases[] = {
      {L"a[b]", L"a%5bb%5d"},
      {L"100%", L"100%25"},
      {L"tab\there", L"tab%09here"},
      {L"line\nend\r", L"line%0aend%0d"},
      {L"plain name", L"plain name"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeSectionName(c.name), c.escaped);
    EXPECT_EQ(UnescapeSectionName(c.escaped), c.name);
  }
  // A "%" without two following characters is copied as it is.
  EXPECT_EQ(UnescapeSectionName(L"50%"), L"50%");
  EXPECT_EQ(UnescapeSectionName(L"50%4"), L"50%4");
  EXPECT_EQ(UnescapeSectionName(L"%41%42"), L"AB");
}

class IniFile : public ::testing::Test {
 protected:
  std::wstring Doc(const std::string& bytes) { return dir_.Write(L"doc.ini", bytes); }
  CTempDir dir_;
};

TEST_F(IniFile, PlainValueLookups) {
  const std::wstring path = Doc(
      "MagicTag=VpnServerResponse\r\n"
      "[VPN]\r\n"
      "AuthResult = OK \r\n"
      "  RequiredClientVersion=2.3.0.2\r\n"
      "Empty=\r\n"
      "NoEquals\r\n"
      "Quoted=\"  spaced  \"\r\n"
      "Single='x'\r\n"
      "Half=\"open\r\n"
      "Dup=first\r\n"
      "dup=second\r\n"
      "[ Servers ]\n"
      "Title0=Tokyo\n"
      "[vpn]\r\n"
      "AuthResult=hidden by the first section\r\n"
      "Late=never seen\r\n");
  struct Case {
    std::wstring section, key, expected;
  } cases[] = {
      {L"VPN", L"AuthResult", L"OK"},
      {L"vpn", L"authresult", L"OK"},
      {L"  VPN ", L" AuthResult ", L"OK"},
      {L"VPN", L"RequiredClientVersion", L"2.3.0.2"},
      {L"VPN", L"Empty", L""},
      {L"VPN", L"NoEquals", L"<default>"},
      {L"VPN", L"Quoted", L"  spaced  "},
      {L"VPN", L"Single", L"x"},
      {L"VPN", L"Half", L"\"open"},
      {L"VPN", L"Dup", L"first"},
      {L"Servers", L"Title0", L"Tokyo"},
      {L"VPN", L"Late", L"<default>"},
      {L"VPN", L"Missing", L"<default>"},
      {L"Nowhere", L"AuthResult", L"<default>"},
      {L"", L"MagicTag", L"VpnServerResponse"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IniReadString(path, c.section, c.key, L"<default>"), c.expected) << c.section << L"/" << c.key;
  EXPECT_EQ(IniReadString(dir_.File(L"absent.ini"), L"VPN", L"AuthResult", L"dflt"), L"dflt");
}

TEST_F(IniFile, IntegerValues) {
  const std::wstring path = Doc(
      "[N]\nhex=0x10\nHEX=0X1f\noct=010\ntrail=12abc\nword=abc\nempty=\nneg=-5\nplus=+7\n"
      "big=99999999999\nsmall=-99999999999\nnegHex=-0x10\nbareX=0x\nzero=0\n"
      "big64=9223372036854775808\nsmall64=-9223372036854775809\ntime=1767225600\n");
  struct Case {
    const wchar_t* key;
    std::int32_t expected;
  } cases[] = {
      {L"hex", 16},          {L"oct", 8},           {L"trail", 12},         {L"word", 0},
      {L"empty", -77},       {L"missing", -77},     {L"neg", -5},           {L"plus", 7},
      {L"big", INT32_MAX},   {L"small", INT32_MIN}, {L"negHex", -16},       {L"bareX", 0},
      {L"zero", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(IniReadInt(path, L"N", c.key, -77), c.expected) << c.key;

  struct Case64 {
    const wchar_t* key;
    std::int64_t expected;
  } cases64[] = {
      {L"missing", 0},        {L"empty", 0},         {L"word", 0},
      {L"time", 1767225600},  {L"big64", INT64_MAX}, {L"small64", INT64_MIN},
      {L"big", 99999999999},  {L"negHex", -16},
  };
  for (const Case64& c : cases64) EXPECT_EQ(IniReadInt64(path, L"N", c.key), c.expected) << c.key;
}

TEST_F(IniFile, TextValuesAreUtf8AndPlainValuesNarrow) {
  const std::string headline = "\xE6\x96\xB0\xE9\x97\xBB \xD0\x9D\xD0\xBE\xD0\xB2\xD0\xBE\xD1\x81\xD1\x82\xD0\xB8";
  const std::wstring path = Doc("[Announcements]\r\nTitle0=" + headline + "\r\nBroken=ok\xFF\xFEok\r\n");
  EXPECT_EQ(IniReadText(path, L"Announcements", L"Title0"), L"\x65B0\x95FB \x041D\x043E\x0432\x043E\x0441\x0442\x0438");
  EXPECT_EQ(IniReadString(path, L"Announcements", L"Title0", L""), NarrowToWide(headline));
  EXPECT_EQ(IniReadText(path, L"Announcements", L"Broken"), L"ok\xFFFD\xFFFDok");
  EXPECT_EQ(IniReadText(path, L"Announcements", L"Missing"), L"");
}

TEST_F(IniFile, LongValuesAndBadBytesAreReadWhole) {
  const std::string longValue(100000, 'v');
  std::string doc = "[S]\nlong=" + longValue + "\nnul=ab";
  doc.push_back('\0');
  doc += "cd\nafter=1\n[unterminated\nx=2\n[T]\nlast=no line end";
  const std::wstring path = Doc(doc);
  EXPECT_EQ(IniReadString(path, L"S", L"long", L""), std::wstring(longValue.begin(), longValue.end()));
  EXPECT_EQ(IniReadString(path, L"S", L"nul", L""), L"ab");
  EXPECT_EQ(IniReadInt(path, L"S", L"after", 0), 1);
  // An unterminated header is not a header: its keys stay in the open section.
  EXPECT_EQ(IniReadInt(path, L"S", L"x", 0), 2);
  EXPECT_EQ(IniReadString(path, L"T", L"last", L""), L"no line end");
}

TEST_F(IniFile, GarbageNeverBreaksTheReader) {
  std::mt19937 rng(12345);
  const char alphabet[] = "[]=;\r\n \t%\"'abcXYZ0\x01\xff\x80";
  for (int round = 0; round < 300; ++round) {
    std::string doc;
    const int len = static_cast<int>(rng() % 400);
    for (int i = 0; i < len; ++i) doc.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    if (round % 3 == 0) doc.push_back('\0');
    const std::wstring path = Doc(doc);
    IniForgetCache();
    for (const std::wstring& name : IniListSections(path)) IniReadString(path, name, L"a", L"");
    IniReadInt(path, L"a", L"b", 0);
    IniWriteString(path, L"new", L"key", L"value");
    EXPECT_EQ(IniReadString(path, L"new", L"key", L""), L"value") << round;
  }
}

TEST_F(IniFile, ListSections) {
  struct Case {
    const char* doc;
    std::vector<std::wstring> names;
  } cases[] = {
      {"k=v\n[b]\n[a%5bb%5d]\n[100%25]\n[ B ]\n", {L"b", L"a[b]", L"100%", L"B"}},
      // The platform's list is NUL-separated: an empty name ends it.
      {"k=v\n[b]\n[]\n[after empty]\n[last]\n", {L"b"}},
      {"[b]\n[ ]\n[after blank]\n", {L"b"}},
      {"[]\n[a]\n", {}},
      {"top=1\n", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(IniListSections(Doc(c.doc)), c.names) << c.doc;
  EXPECT_TRUE(IniListSections(dir_.File(L"absent.ini")).empty());
}

TEST_F(IniFile, WritesKeepOtherLinesAsTheyWere) {
  struct Case {
    const char* name;
    std::string before;
    std::wstring section, key, value;
    std::string after;
  } cases[] = {
      {"new file", "", L"Main", L"LastFastestHostUrl", L"http://a/", "[Main]\r\nLastFastestHostUrl=http://a/\r\n"},
      {"replace in place, stored spelling kept", "; note\r\n[Main]\r\n  Key = old \r\nOther=1\r\n", L"main",
       L"KEY", L"new", "; note\r\n[Main]\r\nKey=new\r\nOther=1\r\n"},
      {"line without equals gets its value", "[A]\nflag\n", L"A", L"FLAG", L"1", "[A]\nflag=1\n"},
      {"lone CR file", "[A]\rx=1\r[B]\ry=2", L"A", L"z", L"3", "[A]\rx=1\rz=3\r[B]\ry=2"},
      {"top level after its keys", "MagicTag=1\r\n\r\n[A]\r\nx=1\r\n", L"", L"k", L"v",
       "MagicTag=1\r\nk=v\r\n\r\n[A]\r\nx=1\r\n"},
      {"top level before the first header", "[A]\nx=1\n[]\nk=old\n", L"", L"k", L"v", "k=v\n[A]\nx=1\n[]\nk=old\n"},
      {"top level of a new file", "", L"", L"k", L"v", "k=v\r\n"},
      {"top level key replaced", "k=1\n[A]\nk=2\n", L"", L"K", L"3", "k=3\n[A]\nk=2\n"},
      {"NUL ends names and values", "", L"Se", L"k", std::wstring(L"v\0tail", 6), "[Se]\r\nk=v\r\n"},
      {"append to section before blank lines", "[A]\nx=1\n\n[B]\ny=2\n", L"A", L"z", L"3",
       "[A]\nx=1\nz=3\n\n[B]\ny=2\n"},
      {"new section at the end", "[A]\nx=1", L"B", L"y", L"2", "[A]\nx=1\n[B]\ny=2\n"},
      {"key in a section without line end", "[A]\nx=1", L"A", L"y", L"2", "[A]\nx=1\ny=2"},
      {"escaped section", "", L"a[b]", L"k", L"v", "[a%5bb%5d]\r\nk=v\r\n"},
      {"first of duplicate sections", "[A]\nx=1\n[A]\nx=2\n", L"A", L"x", L"9", "[A]\nx=9\n[A]\nx=2\n"},
      {"line break in value refused", "[A]\nx=1\n", L"A", L"x", L"1\n[B]\ny=2", "[A]\nx=1\n"},
      {"equals in key refused", "[A]\nx=1\n", L"A", L"x=y", L"1", "[A]\nx=1\n"},
  };
  for (const Case& c : cases) {
    const std::wstring path = dir_.File(L"w.ini");
    std::filesystem::remove(path);
    if (!c.before.empty()) dir_.Write(L"w.ini", c.before);
    IniWriteString(path, c.section, c.key, c.value);
    EXPECT_EQ(dir_.Read(L"w.ini"), c.after) << c.name;
  }
}

TEST_F(IniFile, ReadsFollowTheFile) {
  const std::wstring path = Doc("[A]\nx=1\n");
  EXPECT_EQ(IniReadInt(path, L"A", L"x", 0), 1);
  IniWriteInt(path, L"A", L"x", -42);
  EXPECT_EQ(IniReadInt(path, L"A", L"x", 0), -42);
  // Rewritten by someone else, in place and with the same size.
  Doc("[A]\nx=7\n");
  EXPECT_EQ(IniReadInt(path, L"A", L"x", 0), 7);
  Doc("[A]\nx=8\n");
  EXPECT_EQ(IniReadInt(path, L"A", L"x", 0), 8);
  IniDeleteSection(path, L"a");
  EXPECT_EQ(IniReadInt(path, L"A", L"x", 5), 5);
  std::filesystem::remove(path);
  EXPECT_EQ(IniReadInt64(path, L"A", L"x"), 0);
  EXPECT_EQ(IniReadString(path, L"A", L"x", L"gone"), L"gone");
}

TEST_F(IniFile, DeleteSectionRemovesEveryCopy) {
  struct Case {
    std::string before;
    std::wstring section;
    std::string after;
  } cases[] = {
      {"[Keep]\na=1\n[Drop]\nb=2\n[keep2]\n[drop]\nc=3\n", L"DROP", "[Keep]\na=1\n[keep2]\n"},
      {"t=1\n; note\n\n[A]\nk=v\n[]\nhidden=1\n[B]\n", L"", "[A]\nk=v\n[B]\n"},
      {"\xEF\xBB\xBFt=1\r[A]\rk=v\r", L"", "\xEF\xBB\xBF[A]\rk=v\r"},
  };
  for (const Case& c : cases) {
    const std::wstring path = Doc(c.before);
    IniDeleteSection(path, c.section);
    EXPECT_EQ(dir_.Read(L"doc.ini"), c.after) << c.before;
  }
}

TEST_F(IniFile, LineBreaksNulsAndNamelessSections) {
  std::string nuls = "[Se";
  nuls += std::string(1, '\0') + "c]\nn";
  nuls += std::string(1, '\0') + "x=2\nv=ab ";
  nuls += std::string(1, '\0') + "cd\nq=\"ab\"";
  nuls += std::string(1, '\0') + "x\n";
  struct Case {
    const char* what;
    std::string doc;
    std::wstring section, key, expected;
  } cases[] = {
      {"lone CR", "[A]\rk=1\rj=2\r[B]\rx=3", L"A", L"j", L"2"},
      {"lone CR ends a section", "[A]\rk=1\rj=2\r[B]\rx=3", L"B", L"x", L"3"},
      {"mixed endings", "[A]\r\nk=1\rj=2\n[B]\n\rx=3\r", L"A", L"j", L"2"},
      {"LF CR is two breaks", "[A]\n\rk=1\n\r", L"A", L"k", L"1"},
      {"NUL in a header", nuls, L"Se", L"v", L"ab "},
      {"NUL in a key name", nuls, L"Se", L"n", L"2"},
      {"quotes go after the cut at NUL", nuls, L"Se", L"q", L"ab"},
      {"line without equals", "[K]\nflag\nflag=2\n", L"K", L"flag", L"<default>"},
      {"top level", "top=1\n[]\nk=1\n", L"", L"top", L"1"},
      {"keys under [] are not top level", "top=1\n[]\nk=1\n", L"", L"k", L"<default>"},
  };
  for (const Case& c : cases) {
    const std::wstring path = Doc(c.doc);
    EXPECT_EQ(IniReadString(path, c.section, c.key, L"<default>"), c.expected) << c.what;
  }
  EXPECT_EQ(IniListSections(Doc(nuls)), (std::vector<std::wstring>{L"Se"}));
}

TEST_F(IniFile, Utf16AndByteOrderMarkFilesKeepTheirEncoding) {
  const std::wstring text = L"[A]\r\nk=caf\x00e9 \x0414\r\n";
  struct Case {
    const char* what;
    std::string bytes;
    std::string expectedAfter;
  } cases[] = {
      {"UTF-16 LE", Utf16Bytes(text, false), Utf16Bytes(text + L"n=w\x0414\r\n", false)},
      {"UTF-16 BE", Utf16Bytes(text, true), Utf16Bytes(text + L"n=w\x0414\r\n", true)},
      {"UTF-8 BOM", "\xEF\xBB\xBF" + WideToUtf8(text), "\xEF\xBB\xBF" + WideToUtf8(text + L"n=w\x0414\r\n")},
  };
  for (const Case& c : cases) {
    const std::wstring path = Doc(c.bytes);
    EXPECT_EQ(IniReadString(path, L"A", L"k", L""), L"caf\x00e9 \x0414") << c.what;
    EXPECT_EQ(IniReadText(path, L"A", L"k"), L"caf\x00e9 \x0414") << c.what;
    EXPECT_EQ(IniListSections(path), std::vector<std::wstring>{L"A"}) << c.what;
    IniWriteString(path, L"A", L"n", L"w\x0414");
    EXPECT_EQ(dir_.Read(L"doc.ini"), c.expectedAfter) << c.what;
    EXPECT_EQ(IniReadString(path, L"A", L"n", L""), L"w\x0414") << c.what;
  }
  // A stray surrogate and an odd last byte: the rewrite keeps the former and
  // drops the latter, which no reader ever saw.
  std::string odd = Utf16Bytes(std::wstring(L"[A]\nk=") + wchar_t(0xD800) + L"\n", false) + "x";
  const std::wstring path = Doc(odd);
  IniWriteString(path, L"A", L"j", L"1");
  odd.pop_back();
  EXPECT_EQ(dir_.Read(L"doc.ini"), odd + Utf16Bytes(L"j=1\n", false, false));
}

TEST_F(IniFile, ReadersNeverSeeAHalfWrittenFile) {
  // The application list is read by other processes while we write it.
  const std::wstring path = Doc("[Apps]\n");
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, missing{0}, reads{0};
  std::thread reader([&] {
    while (!done) {
      std::string bytes;
      if (!ReadWholeFile(path, bytes)) ++missing;
      else if (bytes.back() != '\n' || bytes.rfind("[Apps]", 0) != 0) ++torn;
      ++reads;
    }
  });
  for (int i = 0; i < 100; ++i)
    IniWriteString(path, L"Apps", L"Path", std::wstring(static_cast<size_t>(i % 7) * 5000 + 1, L'a'));
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_EQ(missing, 0) << "of " << reads << " reads";
}

}  // namespace
