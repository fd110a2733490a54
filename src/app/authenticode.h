// Checks that a Windows program file was signed by our publisher, with
// OpenSSL alone, so the same check runs natively in the tests and in the
// client under any Windows or Wine: the PE image digest (SHA-256, over all
// bytes but the checksum, the certificate-table entry and the table), the
// PKCS#7 signature over the signed SpcIndirectDataContent, and the signer's
// public key against the one compiled in. Everything in the file is
// untrusted until that holds: every offset is bounds-checked.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// SHA-256 of the publisher certificate's DER SubjectPublicKeyInfo.
using PublisherPin = std::array<unsigned char, 32>;

enum class SignatureCheck {
  Ok,
  NotAProgram,        // no PE image, or its headers do not fit the file
  Unsigned,           // no certificate table
  DamagedTable,       // the table is malformed, not at the end, or its padding is not zero
  DamagedSignature,   // the PKCS#7 block or its signed content cannot be read
  DigestMismatch,     // the image is not the one that was signed
  BadSignature,       // the signature does not verify over the signed content
  OtherPublisher,     // a good signature, by someone else
};

struct SignedProgram {
  SignatureCheck check = SignatureCheck::NotAProgram;
  // The fixed file version of the version resource (most-significant half
  // in the top 32 bits); 0 when there is none.
  std::uint64_t fileVersion = 0;
};

SignedProgram VerifyPublisherSignature(std::string_view image, const PublisherPin& publisher);

// What the update flow asks of a downloaded program before it starts it:
// our publisher's signature, and a version newer than the running client's
// (an old signed release must not be replayed to bring back its faults).
struct UpdateProgramVerdict {
  bool ok = false;
  SignatureCheck signature = SignatureCheck::NotAProgram;
  bool newer = false;
};
UpdateProgramVerdict CheckUpdateProgram(std::string_view image, std::uint64_t ownVersion,
                                        const PublisherPin& publisher);

// The publisher this build trusts, generated from the signing certificate.
const PublisherPin& BuiltInPublisher();

// A short English reason, for messages and logs.
const char* SignatureCheckText(SignatureCheck check);

// The parts a fuzzer drives on their own.
struct PeLayout {
  std::uint32_t checksumOffset = 0;
  std::uint32_t securityEntryOffset = 0;
  std::uint32_t tableOffset = 0;  // 0: unsigned
  std::uint32_t tableSize = 0;
  std::uint32_t headersSize = 0;
};
bool ReadPeLayout(std::string_view image, PeLayout& layout);
std::uint64_t ReadFileVersion(std::string_view image);
