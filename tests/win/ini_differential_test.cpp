// Our INI engine against the platform's private-profile functions, which are
// what the client's documents were always read and written with. Where we
// differ on purpose the case says why.
#include <gtest/gtest.h>

#include <vector>

#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "platform/strings.h"
#include "platform/win32.h"

namespace {

constexpr wchar_t kDefault[] = L"<default>";

std::wstring PlatformRead(const std::wstring& path, const std::wstring& section, const std::wstring& key) {
  std::vector<wchar_t> buf(1 << 20);
  const DWORD n = GetPrivateProfileStringW(EscapeSectionName(section).c_str(), key.c_str(), kDefault, buf.data(),
                                           static_cast<DWORD>(buf.size()), path.c_str());
  return std::wstring(buf.data(), n);
}

std::wstring PlatformReadText(const std::wstring& path, const std::wstring& section, const std::wstring& key) {
  std::vector<char> buf(1 << 20);
  const std::string s = WideToNarrow(EscapeSectionName(section)), k = WideToNarrow(key), p = WideToNarrow(path);
  const DWORD n =
      GetPrivateProfileStringA(s.c_str(), k.c_str(), "", buf.data(), static_cast<DWORD>(buf.size()), p.c_str());
  return Utf8ToWide(std::string(buf.data(), n));
}

std::vector<std::wstring> PlatformSections(const std::wstring& path) {
  std::vector<wchar_t> buf(1 << 16);
  const DWORD n = GetPrivateProfileSectionNamesW(buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
  std::vector<std::wstring> names;
  for (DWORD i = 0; i < n;) {
    std::wstring name(buf.data() + i);
    if (name.empty()) break;
    i += static_cast<DWORD>(name.size()) + 1;
    names.push_back(UnescapeSectionName(name));
  }
  return names;
}

struct Lookup {
  std::wstring section, key;
  const wchar_t* ours = nullptr;  // set where we differ on purpose: our result
  const char* why = nullptr;
};

struct Document {
  const char* name;
  std::string bytes;
  std::vector<Lookup> lookups;
};

const std::string kLong(5000, 'L');

std::vector<Document> Documents() {
  return {
      {"names ignore case and blanks",
       "[VPN]\r\nAuthResult = OK \r\n  Spaced  =  v  \r\n[ Padded ]\r\nk=1\r\n",
       {{L"vpn", L"AUTHRESULT"}, {L" VPN ", L" AuthResult "}, {L"VPN", L"Spaced"}, {L"Padded", L"k"}}},
      {"missing section and key", "[A]\nx=1\n", {{L"B", L"x"}, {L"A", L"y"}, {L"A", L"x"}}},
      {"duplicate sections and keys",
       "[A]\nx=1\nx=2\n[B]\ny=0\n[a]\nx=3\nz=4\n",
       {{L"A", L"x"}, {L"A", L"z"}, {L"B", L"y"}}},
      {"value longer than 4096 characters", "[S]\nlong=" + kLong + "\n", {{L"S", L"long"}}},
      {"marker line anywhere",
       "MagicTag=VpnServerResponse\r\n[VPN]\r\nAuthResult=OK\r\nMagicTag=VpnServerResponse\r\nNext=1\r\n",
       {{L"VPN", L"AuthResult"}, {L"VPN", L"Next"}}},
      {"LF only and CR LF mixed", "[A]\nx=lf\r\n[B]\r\ny=crlf\n", {{L"A", L"x"}, {L"B", L"y"}}},
      {"quoted values", "[Q]\nd=\"quoted\"\ns='single'\nhalf=\"open\n", {{L"Q", L"d"}, {L"Q", L"s"}, {L"Q", L"half"}}},
      {"escaped section names", "[a%5bb%5d]\nk=1\n[100%25]\nk=2\n", {{L"a[b]", L"k"}, {L"100%", L"k"}}},
      {"key without equals", "[K]\nflag\nx=1\n", {{L"K", L"x"}}},
      {"no final line end", "[E]\nlast=value", {{L"E", L"last"}}},
      {"comments, tabs and odd lines",
       "; comment=1\n[C]\n; note=2\n\tTabbed\t=\tt\t\n=nameless\nafter=3\n",
       {{L"C", L"; note"}, {L"C", L"Tabbed"}, {L"C", L"after"}, {L"", L"; comment"}}},
      {"byte order mark", "\xEF\xBB\xBF[B]\nk=bom\n", {{L"B", L"k"}}},
      {"empty section name", "[]\nk=1\n[N]\nk=2\n", {{L"", L"k"}, {L"N", L"k"}}},
  };
}

TEST(IniDifferential, PlainReads) {
  CTempDir dir;
  for (const Document& doc : Documents()) {
    const std::wstring path = dir.Write(L"doc.ini", doc.bytes);
    IniForgetCache();
    for (const Lookup& l : doc.lookups) {
      const std::wstring ours = IniReadString(path, l.section, l.key, kDefault);
      const std::wstring theirs = PlatformRead(path, l.section, l.key);
      if (l.ours) {
        EXPECT_EQ(ours, l.ours) << doc.name << ": " << l.why;
        EXPECT_NE(ours, theirs) << doc.name << ": the platform now agrees; drop the exception";
      } else {
        EXPECT_EQ(ours, theirs) << doc.name << " [" << l.section << "] " << l.key;
      }
    }
  }
}

TEST(IniDifferential, MissingFileReadsAsDefault) {
  CTempDir dir;
  const std::wstring path = dir.File(L"absent.ini");
  EXPECT_EQ(IniReadString(path, L"A", L"x", kDefault), PlatformRead(path, L"A", L"x"));
}

TEST(IniDifferential, Utf8TextValues) {
  CTempDir dir;
  const std::string title = "\xE6\x96\xB0\xE9\x97\xBB caf\xC3\xA9";
  const std::wstring path = dir.Write(L"doc.ini", "[Announcements]\r\nTitle0=" + title + "\r\n");
  EXPECT_EQ(IniReadText(path, L"Announcements", L"Title0"), PlatformReadText(path, L"Announcements", L"Title0"));
  EXPECT_EQ(IniReadText(path, L"Announcements", L"Title0"), Utf8ToWide(title));
  // Read as a plain value the same bytes go through the ANSI code page.
  EXPECT_EQ(IniReadString(path, L"Announcements", L"Title0", L""), PlatformRead(path, L"Announcements", L"Title0"));
}

TEST(IniDifferential, SectionLists) {
  CTempDir dir;
  const std::string docs[] = {
      "[b]\n[a%5bb%5d]\n[100%25]\n[ Spaced ]\n",
      "pre=1\n[first]\nx=1\n[second]\n",
      "",
  };
  for (const std::string& bytes : docs) {
    const std::wstring path = dir.Write(L"doc.ini", bytes);
    IniForgetCache();
    EXPECT_EQ(IniListSections(path), PlatformSections(path)) << bytes;
  }
}

TEST(IniDifferential, WritesReadBackTheSame) {
  CTempDir dir;
  const std::string start = "[Main]\r\nOld=1\r\n\r\n[Other]\r\nk=v\r\n";
  const std::wstring ours = dir.Write(L"ours.ini", start);
  const std::wstring theirs = dir.Write(L"theirs.ini", start);
  struct Write {
    std::wstring section, key, value;
  } writes[] = {
      {L"Main", L"LastFastestHostUrl", L"https://login.example/"},
      {L"main", L"old", L"2"},
      {L"New Section", L"a", L"b"},
      {L"a[b]", L"k", L"escaped"},
      {L"Other", L"k", L""},
  };
  for (const Write& w : writes) {
    IniWriteString(ours, w.section, w.key, w.value);
    WritePrivateProfileStringW(EscapeSectionName(w.section).c_str(), w.key.c_str(), w.value.c_str(), theirs.c_str());
  }
  IniDeleteSection(ours, L"Other");
  WritePrivateProfileStringW(L"Other", nullptr, nullptr, theirs.c_str());
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, theirs.c_str());  // flush the platform's cache

  const Lookup reads[] = {{L"Main", L"LastFastestHostUrl"}, {L"Main", L"Old"}, {L"New Section", L"a"},
                          {L"a[b]", L"k"}, {L"Other", L"k"}};
  IniForgetCache();
  for (const Lookup& r : reads) {
    EXPECT_EQ(IniReadString(ours, r.section, r.key, kDefault), PlatformRead(theirs, r.section, r.key))
        << r.section << L"/" << r.key;
    EXPECT_EQ(PlatformRead(ours, r.section, r.key), PlatformRead(theirs, r.section, r.key))
        << "the platform reads our file differently: " << r.section << L"/" << r.key;
  }
  EXPECT_EQ(IniListSections(ours), PlatformSections(theirs));
}

TEST(IniDifferential, DeliberateDifferencesInWrites) {
  CTempDir dir;
  // Deleting a repeated section: the platform drops the first copy and the
  // second then answers reads; we drop every copy, so "deleted" means gone.
  {
    const std::string start = "[Dup]\nk=1\n[Other]\nx=1\n[Dup]\nk=2\n";
    const std::wstring ours = dir.Write(L"ours.ini", start);
    const std::wstring theirs = dir.Write(L"theirs.ini", start);
    IniDeleteSection(ours, L"Dup");
    WritePrivateProfileStringW(L"Dup", nullptr, nullptr, theirs.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, theirs.c_str());
    IniForgetCache();
    EXPECT_EQ(IniReadString(ours, L"Dup", L"k", kDefault), kDefault);
    EXPECT_EQ(PlatformRead(theirs, L"Dup", L"k"), L"2");
    EXPECT_EQ(IniReadString(ours, L"Other", L"x", kDefault), L"1");
  }
  // A value with a line break: the platform writes it raw, and the text after
  // the break becomes lines of their own (here a new section with a key).
  // We refuse the write and keep the old value.
  {
    const std::string start = "[A]\nx=1\n";
    const std::wstring ours = dir.Write(L"ours2.ini", start);
    const std::wstring theirs = dir.Write(L"theirs2.ini", start);
    const wchar_t* injected = L"2\r\n[Injected]\r\nevil=1";
    IniWriteString(ours, L"A", L"x", injected);
    WritePrivateProfileStringW(L"A", L"x", injected, theirs.c_str());
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, theirs.c_str());
    IniForgetCache();
    EXPECT_EQ(IniReadString(ours, L"A", L"x", kDefault), L"1");
    EXPECT_EQ(IniReadString(ours, L"Injected", L"evil", kDefault), kDefault);
    EXPECT_EQ(PlatformRead(theirs, L"Injected", L"evil"), L"1");
  }
}

}  // namespace
