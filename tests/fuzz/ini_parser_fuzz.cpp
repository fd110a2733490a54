// Any file must parse; decoding and encoding give the stored bytes back; an
// edit does what it says and leaves every other section's value alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "account/ini_engine.h"
#include "fuzz_input.h"
#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

const std::string* Value(const std::string& file, std::string_view section, std::string_view key) {
  static thread_local CIniDocument doc = CIniDocument::Parse("");
  doc = CIniDocument::Parse(file);
  return doc.Find(section, key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const IniText text = IniDecodeFile(bytes);
  const std::string again = IniEncodeFile(text);
  const bool utf16 = text.encoding == IniEncoding::Utf16Le || text.encoding == IniEncoding::Utf16Be;
  // A UTF-16 file's odd last byte is no character and is not kept.
  FUZZ_CHECK(again == (utf16 && size % 2 ? bytes.substr(0, size - 1) : bytes));

  const CIniDocument doc = CIniDocument::Parse(bytes);
  std::vector<std::pair<std::string, std::string>> before;  // other sections' "k"
  for (const std::string& name : doc.SectionNames()) {
    FUZZ_CHECK(!name.empty() && name.find('\0') == std::string::npos);
    if (EqualsNoCaseAscii(name, "fz")) continue;
    const std::string* v = doc.Find(name, "k");
    if (v) before.emplace_back(name, *v);
  }

  IniText edited = text;
  if (IniEditSetValue(edited.text, "fz", "k", "v")) {
    const std::string file = IniEncodeFile(edited);
    const std::string* v = Value(file, "fz", "k");
    FUZZ_CHECK(v && *v == "v");
    for (const auto& [name, value] : before) {
      const std::string* now = Value(file, name, "k");
      FUZZ_CHECK(now && *now == value);
    }
  }
  if (IniEditSetValue(edited.text, "", "tk", "tv")) {
    const std::string* v = Value(IniEncodeFile(edited), "", "tk");
    FUZZ_CHECK(v && *v == "tv");
  }
  IniEditRemoveSection(edited.text, "fz");
  const std::string file = IniEncodeFile(edited);
  FUZZ_CHECK(Value(file, "fz", "k") == nullptr);
  for (const auto& [name, value] : before) {
    const std::string* now = Value(file, name, "k");
    FUZZ_CHECK(now && *now == value);
  }
  IniEditRemoveSection(edited.text, "");
  FUZZ_CHECK(Value(IniEncodeFile(edited), "", "tk") == nullptr);
  return 0;
}
