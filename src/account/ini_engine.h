// The INI layout at the byte level: parsing into a lookup structure, and
// edits that rewrite only the lines they concern. Names compare without
// regard to ASCII letter case; blanks around names and values are dropped.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CIniDocument {
 public:
  static CIniDocument Parse(std::string_view bytes);

  // The raw bytes of the value, or nullptr when the section or key is
  // missing. A key line without "=" has an empty value. Where names repeat,
  // the first section and its first key win.
  const std::string* Find(std::string_view section, std::string_view key) const;

  // Every section headed in the file, in file order, duplicates included.
  std::vector<std::string> SectionNames() const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
    std::unordered_map<std::string, std::size_t> firstKey;  // lower-case name -> index
  };
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::size_t> firstSection_;  // lower-case name -> index
};

// Sets `key` in the first `section` (creating either as needed) and returns
// the new text; false when the key or value cannot be stored in a line (a
// line break, a key with "=" or that would read as a section header).
bool IniEditSetValue(std::string& text, std::string_view section, std::string_view key, std::string_view value);

// Removes every section of that name with all its lines.
void IniEditRemoveSection(std::string& text, std::string_view section);
