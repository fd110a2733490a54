// libFuzzer target: any bytes must parse, and edits must do what they say.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "account/ini_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const CIniDocument doc = CIniDocument::Parse(text);
  for (const std::string& name : doc.SectionNames()) doc.Find(name, "k");

  std::string edited = text;
  if (IniEditSetValue(edited, "fz", "k", "v")) {
    const CIniDocument after = CIniDocument::Parse(edited);
    const std::string* v = after.Find("fz", "k");
    if (!v || *v != "v") std::abort();
  }
  IniEditRemoveSection(edited, "fz");
  if (CIniDocument::Parse(edited).Find("fz", "k")) std::abort();
  return 0;
}
