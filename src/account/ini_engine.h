// The INI layout at the byte level: parsing into a lookup structure, and
// edits that rewrite only the lines they concern. Names compare without
// regard to ASCII letter case; blanks around names and values are dropped.
// A line ends at CR LF, LF or a lone CR; a NUL ends a name or a value, as it
// does for the platform's C-string interface.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// How a file stores its text. Files written by other editors come as UTF-16
// or with a UTF-8 byte order mark; a rewrite keeps what the file had.
enum class IniEncoding { Ansi, Utf8Bom, Utf16Le, Utf16Be };

// A file's text as the engine sees it: the bytes after any byte order mark,
// in the narrow code page for Ansi files and in UTF-8 for the others.
// UTF-16 converts losslessly both ways (a stray surrogate is kept).
struct IniText {
  IniEncoding encoding = IniEncoding::Ansi;
  std::string text;
};

IniText IniDecodeFile(std::string_view bytes);
std::string IniEncodeFile(const IniText& text);

// Wide names and values to and from a document's encoding.
std::string IniEncodeText(IniEncoding encoding, std::wstring_view text);
std::wstring IniDecodeText(IniEncoding encoding, std::string_view bytes);

class CIniDocument {
 public:
  // `bytes` is the file as stored; see IniDecodeFile.
  static CIniDocument Parse(std::string_view bytes);

  // The encoding of names and values: narrow code page for Ansi, else UTF-8.
  IniEncoding Encoding() const { return encoding_; }

  // The value with quotes removed, or nullptr when the section or key is
  // missing or the key's line has no "=". Section "" holds the lines before
  // the first header. Where names repeat, the first section and its first
  // key win.
  const std::string* Find(std::string_view section, std::string_view key) const;

  // Every named section headed in the file, in file order, duplicates
  // included, up to the first header with an empty name: the platform lists
  // names NUL-separated, so an empty one ends its list.
  std::vector<std::string> SectionNames() const;

 private:
  struct Key {
    std::string name;
    std::string value;
    bool hasValue = false;
  };
  struct Section {
    std::string name;
    std::vector<Key> keys;
    std::unordered_map<std::string, std::size_t> firstKey;  // lower-case name -> index
  };
  IniEncoding encoding_ = IniEncoding::Ansi;
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> firstSection_;  // lower-case name -> index
};

// Sets `key` in the first `section` (creating either as needed) in decoded
// text; an existing key keeps its stored spelling. Section "" means the lines
// before the first header. False when the key or value cannot be stored in a
// line (a line break, a key with "=" or that would read as a section header).
bool IniEditSetValue(std::string& text, std::string_view section, std::string_view key, std::string_view value);

// Removes every section of that name with all its lines; section "" removes
// the lines before the first header.
void IniEditRemoveSection(std::string& text, std::string_view section);
