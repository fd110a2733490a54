#include "account/ini_engine.h"

#include "platform/strings.h"

namespace {

bool IsBlank(char c) {
  // 0x1A is the old end-of-file mark; the platform's reader treats it as a blank.
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// One physical line of the document, as the editor sees it.
struct Line {
  std::size_t begin = 0;     // first byte
  std::size_t end = 0;       // one past the last content byte (before "\r\n" or "\n")
  std::size_t next = 0;      // first byte of the following line
  enum Kind { Blank, Header, Entry } kind = Blank;
  std::string_view name;     // trimmed section or key name
  std::string_view value;    // trimmed value, quotes kept
  bool hasEquals = false;
};

Line ClassifyLine(std::string_view text, std::size_t begin) {
  Line line;
  line.begin = begin;
  std::size_t nl = text.find('\n', begin);
  line.next = nl == std::string_view::npos ? text.size() : nl + 1;
  line.end = nl == std::string_view::npos ? text.size() : nl;
  if (line.end > begin && text[line.end - 1] == '\r') --line.end;
  std::string_view content = Trim(text.substr(begin, line.end - begin));
  if (content.empty()) return line;
  if (content.front() == '[') {
    const std::size_t close = content.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Line::Header;
      line.name = Trim(content.substr(1, close - 1));
      return line;
    }
  }
  line.kind = Line::Entry;
  const std::size_t eq = content.find('=');
  if (eq == std::string_view::npos) {
    line.name = content;
  } else {
    line.hasEquals = true;
    line.name = Trim(content.substr(0, eq));
    line.value = Trim(content.substr(eq + 1));
  }
  return line;
}

std::size_t BodyStart(std::string_view text) {
  return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? kUtf8Bom.size() : 0;
}

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  for (std::size_t pos = BodyStart(text); pos < text.size();) {
    lines.push_back(ClassifyLine(text, pos));
    pos = lines.back().next;
  }
  return lines;
}

std::string_view LineEndingOf(std::string_view text) {
  const std::size_t nl = text.find('\n');
  if (nl == std::string_view::npos) return "\r\n";
  return (nl > 0 && text[nl - 1] == '\r') ? "\r\n" : "\n";
}

}  // namespace

CIniDocument CIniDocument::Parse(std::string_view bytes) {
  CIniDocument doc;
  // Keys before the first header form a nameless section, as the platform's
  // reader has it: found under "", never listed.
  doc.sections_.push_back(Section{});
  doc.firstSection_.emplace(std::string(), 0);
  Section* current = &doc.sections_.back();
  for (std::size_t pos = BodyStart(bytes); pos < bytes.size();) {
    const Line line = ClassifyLine(bytes, pos);
    pos = line.next;
    if (line.kind == Line::Header) {
      doc.sections_.push_back(Section{std::string(line.name), {}, {}});
      current = &doc.sections_.back();
      doc.firstSection_.emplace(ToLowerAscii(line.name), doc.sections_.size() - 1);
    } else if (line.kind == Line::Entry) {
      current->keys.emplace_back(std::string(line.name), std::string(StripQuotes(line.value)));
      current->firstKey.emplace(ToLowerAscii(line.name), current->keys.size() - 1);
    }
  }
  return doc;
}

const std::string* CIniDocument::Find(std::string_view section, std::string_view key) const {
  const auto s = firstSection_.find(ToLowerAscii(Trim(section)));
  if (s == firstSection_.end()) return nullptr;
  const Section& sec = sections_[s->second];
  const auto k = sec.firstKey.find(ToLowerAscii(Trim(key)));
  if (k == sec.firstKey.end()) return nullptr;
  return &sec.keys[k->second].second;
}

std::vector<std::string> CIniDocument::SectionNames() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (std::size_t i = 1; i < sections_.size(); ++i) names.push_back(sections_[i].name);
  return names;
}

bool IniEditSetValue(std::string& text, std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  // A line break would let a value write lines of its own; such a write is
  // refused rather than allowed to change other keys.
  if (key.empty() || key.find_first_of("=\r\n") != std::string_view::npos || key.front() == '[' ||
      value.find_first_of("\r\n") != std::string_view::npos ||
      section.find_first_of("\r\n") != std::string_view::npos)
    return false;
  const std::string_view eol = LineEndingOf(text);
  const std::vector<Line> lines = SplitLines(text);
  std::string entry = std::string(key) + "=" + std::string(value);

  std::size_t i = 0;
  while (i < lines.size() && !(lines[i].kind == Line::Header && EqualsNoCaseAscii(lines[i].name, section))) ++i;
  if (i == lines.size()) {
    std::string add;
    if (!text.empty() && text.back() != '\n') add += eol;
    add.append("[").append(section).append("]").append(eol).append(entry).append(eol);
    text += add;
    return true;
  }
  std::size_t insertAfter = i;  // last non-blank line of the section
  for (std::size_t j = i + 1; j < lines.size() && lines[j].kind != Line::Header; ++j) {
    if (lines[j].kind != Line::Entry) continue;
    if (EqualsNoCaseAscii(lines[j].name, key)) {
      text.replace(lines[j].begin, lines[j].end - lines[j].begin, entry);
      return true;
    }
    insertAfter = j;
  }
  const Line& after = lines[insertAfter];
  if (after.next == 0 || text[after.next - 1] != '\n') {  // the last line has no line end yet
    text.insert(after.next, std::string(eol) + entry);
  } else {
    text.insert(after.next, entry + std::string(eol));
  }
  return true;
}

void IniEditRemoveSection(std::string& text, std::string_view section) {
  section = Trim(section);
  const std::vector<Line> lines = SplitLines(text);
  std::string out;
  out.reserve(text.size());
  out.append(text, 0, BodyStart(text));
  bool dropping = false;
  for (const Line& line : lines) {
    if (line.kind == Line::Header) dropping = EqualsNoCaseAscii(line.name, section);
    if (!dropping) out.append(text, line.begin, line.next - line.begin);
  }
  text = std::move(out);
}
