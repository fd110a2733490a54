// The typed, human-readable settings file used where there is no registry:
//
//   [Main]
//   Username=s:alice
//   SavePassword=i:1
//   Password=b:51 4e 50 31...   (hex, no blanks in the file)
//
// Each value carries its type (i: 32-bit integer, s: text, b: bytes), so the
// three kinds stay apart as they do in the registry. Names and texts are
// UTF-8; a backslash escapes what would break a line or the layout. Lines we
// cannot read (hand edits, damage, a newer format) are kept as they are and
// written back unchanged, so a save never loses what it did not understand.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "account/settings.h"

class CSettingsFile {
 public:
  static CSettingsFile Parse(std::string_view bytes);
  std::string Format() const;

  std::optional<std::int32_t> ReadInt(std::wstring_view section, std::wstring_view name) const;
  std::optional<std::wstring> ReadString(std::wstring_view section, std::wstring_view name) const;
  std::optional<ByteString> ReadBinary(std::wstring_view section, std::wstring_view name) const;
  void WriteInt(std::wstring_view section, std::wstring_view name, std::int32_t value);
  void WriteString(std::wstring_view section, std::wstring_view name, std::wstring_view value);
  void WriteBinary(std::wstring_view section, std::wstring_view name, const ByteString& value);
  // True when something was removed.
  bool DeleteValue(std::wstring_view section, std::wstring_view name);
  bool DeleteSection(std::wstring_view section);

 private:
  struct Line {
    bool isValue = false;      // a readable "name=t:payload" line
    std::wstring name;         // decoded, when isValue
    char type = 0;             // 'i', 's' or 'b'; 0 for a payload we cannot read
    std::string payload;       // as in the file, after "t:"
    std::string raw;           // the line as in the file
  };
  struct Section {
    bool hasHeader = false;    // false only for the lines before the first header
    std::wstring name;
    std::string rawHeader;
    std::vector<Line> lines;
  };

  const Line* Find(std::wstring_view section, std::wstring_view name, char type) const;
  void Write(std::wstring_view section, std::wstring_view name, char type, std::string payload);

  std::vector<Section> sections_;
};

// Escaping used in the file: backslash, control characters and the listed
// specials become "\\", "\n", "\r", "\t" or "\xHH". Unescape fails on a
// malformed escape.
std::string EscapeSettingsText(std::string_view utf8, std::string_view specials);
std::optional<std::string> UnescapeSettingsText(std::string_view escaped);
