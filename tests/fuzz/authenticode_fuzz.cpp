// The signature check over any file: it never reads outside the file, the
// layout it finds is consistent, and nothing passes for a publisher whose
// key hashes to zeros (no key does). A seed is a small signed program, so
// mutations reach the PKCS#7 and SpcIndirectDataContent parsing.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/authenticode.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  PeLayout layout;
  if (ReadPeLayout(image, layout)) {
    FUZZ_CHECK(layout.checksumOffset + 4 <= layout.securityEntryOffset);
    FUZZ_CHECK(layout.securityEntryOffset + 8 <= size);
    FUZZ_CHECK(layout.tableOffset <= size);
    FUZZ_CHECK(layout.tableSize == 0 ? layout.tableOffset == size : layout.tableOffset + layout.tableSize == size);
  }
  ReadFileVersion(image);
  const PublisherPin nobody{};
  const SignedProgram checked = VerifyPublisherSignature(image, nobody);
  FUZZ_CHECK(checked.check != SignatureCheck::Ok);
  FUZZ_CHECK(checked.fileVersion == 0);
  return 0;
}
