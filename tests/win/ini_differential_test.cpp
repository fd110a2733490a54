// Our INI engine against the platform's private-profile functions, which are
// what the client's documents were always read and written with. Where we
// differ on purpose the case says why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "fakes/utf16_bytes.h"
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

std::string WithNuls(std::string text) {
  for (char& c : text)
    if (c == '@') c = '\0';
  return text;
}

// Every entry of a section as the platform lists it ("name=value", names as
// stored), which shows the spelling a write left behind.
std::vector<std::wstring> PlatformEntries(const std::wstring& path, const std::wstring& section) {
  std::vector<wchar_t> buf(1 << 16);
  const DWORD n = GetPrivateProfileSectionW(EscapeSectionName(section).c_str(), buf.data(),
                                            static_cast<DWORD>(buf.size()), path.c_str());
  std::vector<std::wstring> entries;
  for (DWORD i = 0; i < n;) {
    std::wstring entry(buf.data() + i);
    if (entry.empty()) break;
    i += static_cast<DWORD>(entry.size()) + 1;
    entries.push_back(entry);
  }
  return entries;
}

void FlushPlatformCache(const std::wstring& path) { WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str()); }

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
      {"line without equals is not a key", "[K]\nflag\nflag=2\nx=1\nLone\n", {{L"K", L"flag"}, {L"K", L"x"}, {L"K", L"Lone"}}},
      {"lone CR", "[A]\rk=1\rj=2\r[B]\rx=3", {{L"A", L"k"}, {L"A", L"j"}, {L"B", L"x"}}},
      {"CR LF, LF, CR and LF CR mixed", "[A]\r\nk=1\rj=2\n[B]\n\rx=3\r\n\ry=4", {{L"A", L"k"}, {L"A", L"j"}, {L"B", L"x"}, {L"B", L"y"}}},
      {"NUL ends names and values", WithNuls("[Se@c]\nk=1\nn@x=2\nv=ab @cd\nq=\"ab\"@x\n[T @z]\nt=1\n"),
       {{L"Se", L"k"}, {L"Se", L"n"}, {L"Se", L"v"}, {L"Se", L"q"}, {L"Se", L"c"}, {L"T", L"t"}, {L"T ", L"t"}}},
      {"top level and nameless sections", "top=1\n[]\nk=1\n[ ]\nk2=2\n[after]\na=1\n",
       {{L"", L"top"}, {L"", L"k"}, {L"", L"k2"}, {L"after", L"a"}}},
      {"UTF-16 LE", Utf16Bytes(L"[A]\r\nk=caf\x00e9 \x0414\r\n[\x0411]\r\nx=1\r\n", false), {{L"A", L"k"}, {L"\x0411", L"x"}}},
      {"UTF-16 BE", Utf16Bytes(L"[A]\nk=caf\x00e9 \x0414\rj=2\n", true), {{L"A", L"k"}, {L"A", L"j"}}},
      {"UTF-8 byte order mark", "\xEF\xBB\xBF[A]\nk=caf\xC3\xA9 \xD0\x94\n", {{L"A", L"k"}}},
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
  // Windows hands a nameless section over as an empty name, which ends the
  // NUL-separated list for every caller; Wine leaves such names out and
  // lists on. We follow Windows.
  const char* const kEmptyEndsTheList = "an empty section name ends the platform's list on Windows";
  struct Doc {
    std::string bytes;
    std::vector<std::wstring> ours;  // set where we differ on purpose
    const char* why = nullptr;
  } docs[] = {
      {"[b]\n[a%5bb%5d]\n[100%25]\n[ Spaced ]\n"},
      {"pre=1\n[first]\nx=1\n[second]\n"},
      {""},
      {"[]\n[a]\n[ ]\n[b]\n[]\n", {}, kEmptyEndsTheList},
      {"[a]\n[b]\n[]\n[c]\n", {L"a", L"b"}, kEmptyEndsTheList},
      {"[a]\n[ ]\n[c]\n", {L"a"}, kEmptyEndsTheList},
      {"[a]\r[b]\r\n[c]\n\r[d]"},
      {WithNuls("[Se@c]\n[@]\n[after]\n"), {L"Se"}, kEmptyEndsTheList},
      {Utf16Bytes(L"[one]\r\n[\x0414]\r\n[three]\r\n", false)},
      {Utf16Bytes(L"[one]\n[two]\n", true)},
  };
  for (const Doc& doc : docs) {
    const std::wstring path = dir.Write(L"doc.ini", doc.bytes);
    IniForgetCache();
    const std::vector<std::wstring> theirs = PlatformSections(path);
    if (doc.why) {
      EXPECT_EQ(IniListSections(path), doc.ours) << doc.bytes << ": " << doc.why;
      EXPECT_NE(theirs, doc.ours) << doc.bytes << ": the platform now agrees; drop the exception";
    } else {
      EXPECT_EQ(IniListSections(path), theirs) << doc.bytes;
    }
  }
}

TEST(IniDifferential, UnicodeFilesGiveTheirTextToTextReads) {
  // The platform's byte-level read would hand the text of a Unicode file
  // through the ANSI code page, losing what it cannot show; ours returns the
  // text, which is what the wide read gives.
  CTempDir dir;
  const std::string docs[] = {
      Utf16Bytes(L"[A]\r\nk=caf\x00e9 \x0414\r\n", false),
      Utf16Bytes(L"[A]\r\nk=caf\x00e9 \x0414\r\n", true),
      "\xEF\xBB\xBF[A]\r\nk=caf\xC3\xA9 \xD0\x94\r\n",
  };
  for (const std::string& bytes : docs) {
    const std::wstring path = dir.Write(L"doc.ini", bytes);
    IniForgetCache();
    EXPECT_EQ(IniReadText(path, L"A", L"k"), PlatformRead(path, L"A", L"k"));
    EXPECT_EQ(IniReadText(path, L"A", L"k"), L"caf\x00e9 \x0414");
  }
}

struct Write {
  std::wstring section, key, value;
  bool unicodeOnly = false;  // text the ANSI code page cannot hold
};

// Writes every start document takes, in order; each must read back at once.
const std::vector<Write>& Writes() {
  static const std::vector<Write> writes = {
      {L"Main", L"LastFastestHostUrl", L"https://login.example/"},
      {L"main", L"OLD", L"2"},  // the stored spelling "Old" stays
      {L"New Section", L"a", L"b"},
      {L"a[b]", L"k", L"escaped"},
      {L"Other", L"k", L""},
      {L"Main", L"flag", L"on"},  // a line without "=" becomes the key
      {L"Main", L"Spaced", L"  padded  "},
      {L"", L"top", L"1"},
      {L"", L"PRE", L"3"},
      {L"Main", L"caf\x00e9", L"\x00e9t\x00e9"},
      {L"Main", L"cyrillic", L"\x0414\x0430", true},
  };
  return writes;
}

struct StartDocument {
  const char* name;
  std::string bytes;  // empty: no file at all
  bool unicode;
};

std::vector<StartDocument> StartDocuments() {
  const std::wstring text = L"pre=0\r\n[Main]\r\nOld=1\r\nflag\r\n\r\n[Other]\r\nk=v\r\n";
  const std::string ansi = WideToNarrow(text);
  // The same lines ending in LF only and in CR only.
  std::string lf, cr;
  for (char c : ansi) {
    if (c != '\r') lf.push_back(c);
    if (c != '\n') cr.push_back(c);
  }
  return {
      {"CR LF", ansi, false},
      {"LF", lf, false},
      {"lone CR", cr, false},
      {"UTF-8 byte order mark", "\xEF\xBB\xBF" + ansi, true},
      {"UTF-16 LE", Utf16Bytes(text, false), true},
      {"UTF-16 BE", Utf16Bytes(text, true), true},
      {"no file", "", false},
  };
}

// The byte order mark a file starts with, if any.
std::string EncodingMark(const std::wstring& path) {
  std::string bytes(3, '\0');
  std::FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return "no file";
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  if (bytes == "\xEF\xBB\xBF") return bytes;
  bytes.resize(std::min<std::size_t>(bytes.size(), 2));
  return bytes == "\xFF\xFE" || bytes == "\xFE\xFF" ? bytes : "";
}

TEST(IniDifferential, WritesReadBackTheSame) {
  for (const StartDocument& start : StartDocuments()) {
    SCOPED_TRACE(start.name);
    CTempDir dir;
    const std::wstring ours = start.bytes.empty() ? dir.File(L"ours.ini") : dir.Write(L"ours.ini", start.bytes);
    const std::wstring theirs = start.bytes.empty() ? dir.File(L"theirs.ini") : dir.Write(L"theirs.ini", start.bytes);
    IniForgetCache();
    std::vector<Lookup> reads = {{L"Main", L"Old"}, {L"Other", L"k"}, {L"", L"pre"}};
    for (const Write& w : Writes()) {
      if (w.unicodeOnly && !start.unicode) continue;
      IniWriteString(ours, w.section, w.key, w.value);
      WritePrivateProfileStringW(EscapeSectionName(w.section).c_str(), w.key.c_str(), w.value.c_str(), theirs.c_str());
      FlushPlatformCache(theirs);
      // Every write reads back at once through our own accessors, as the
      // platform reads its own write.
      EXPECT_EQ(IniReadString(ours, w.section, w.key, kDefault), PlatformRead(theirs, w.section, w.key))
          << L"[" << w.section << L"] " << w.key;
      reads.push_back({w.section, w.key});
    }
    IniDeleteSection(ours, L"Other");
    WritePrivateProfileStringW(L"Other", nullptr, nullptr, theirs.c_str());
    FlushPlatformCache(theirs);

    IniForgetCache();
    for (const Lookup& r : reads) {
      EXPECT_EQ(IniReadString(ours, r.section, r.key, kDefault), PlatformRead(theirs, r.section, r.key))
          << L"[" << r.section << L"] " << r.key;
      EXPECT_EQ(PlatformRead(ours, r.section, r.key), PlatformRead(theirs, r.section, r.key))
          << L"the platform reads our file differently: [" << r.section << L"] " << r.key;
    }
    EXPECT_EQ(IniListSections(ours), PlatformSections(theirs));
    for (const wchar_t* section : {L"Main", L"New Section", L"a[b]"})
      EXPECT_EQ(PlatformEntries(ours, section), PlatformEntries(theirs, section)) << section;
    EXPECT_EQ(EncodingMark(ours), EncodingMark(theirs)) << "the file's encoding changed";
  }
}

TEST(IniDifferential, DeletingTheTopLevel) {
  CTempDir dir;
  const std::string docs[] = {
      "MagicTag=VpnServerResponse\r\n; note\r\nt=1\r\n[A]\r\nk=v\r\n",
      "\xEF\xBB\xBFt=1\r[A]\rk=v\r",
      Utf16Bytes(L"t=1\r\n[A]\r\nt=2\r\n", false),
      "[A]\nk=v\n",
  };
  for (const std::string& bytes : docs) {
    const std::wstring ours = dir.Write(L"ours.ini", bytes);
    const std::wstring theirs = dir.Write(L"theirs.ini", bytes);
    IniDeleteSection(ours, L"");
    WritePrivateProfileStringW(L"", nullptr, nullptr, theirs.c_str());
    FlushPlatformCache(theirs);
    IniForgetCache();
    for (const Lookup& r : {Lookup{L"", L"t"}, Lookup{L"", L"MagicTag"}, Lookup{L"A", L"k"}, Lookup{L"A", L"t"}}) {
      EXPECT_EQ(IniReadString(ours, r.section, r.key, kDefault), PlatformRead(theirs, r.section, r.key))
          << bytes.size() << L" [" << r.section << L"] " << r.key;
      EXPECT_EQ(PlatformRead(ours, r.section, r.key), PlatformRead(theirs, r.section, r.key)) << bytes.size();
    }
    EXPECT_EQ(EncodingMark(ours), EncodingMark(theirs));
  }
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
    FlushPlatformCache(theirs);
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
    FlushPlatformCache(theirs);
    IniForgetCache();
    EXPECT_EQ(IniReadString(ours, L"A", L"x", kDefault), L"1");
    EXPECT_EQ(IniReadString(ours, L"Injected", L"evil", kDefault), kDefault);
    EXPECT_EQ(PlatformRead(theirs, L"Injected", L"evil"), L"1");
  }
}

}  // namespace
