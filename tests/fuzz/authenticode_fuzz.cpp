// The signature check over any file: it never reads outside the file, the
// layout it finds is consistent, and nothing passes for a publisher whose
// key hashes to zeros (no key does). A seed is a small signed program, so
// mutations reach the PKCS#7 and SpcIndirectDataContent parsing.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>
#include <cstdint>
#include <string_view>

#include "app/authenticode.h"
#include "fuzz_input.h"

// OpenSSL's one-time set-up (algorithm tables, error strings) happens here,
// not inside the first input, where it would look like a leak.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  // The signed seed takes every lazily set-up path of the signature check once.
  for (int i = 1; i < *argc; ++i) {
    std::ifstream seed(std::string((*argv)[i]) + "/signed-program", std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(seed)), {});
    if (!image.empty()) VerifyPublisherSignature(image, PublisherPin{});
  }
  ERR_raise(ERR_LIB_USER, 1);  // the thread's error state, kept for the thread's life
  ERR_clear_error();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest("", 0, digest, &length, EVP_sha256(), nullptr);
  return 0;
}

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
