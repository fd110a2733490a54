#include "app/authenticode.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <functional>

#include "signed_program_fixture.h"

namespace {

using namespace program_fixture;

constexpr std::uint64_t Version(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
  return static_cast<std::uint64_t>(a) << 48 | static_cast<std::uint64_t>(b) << 32 |
         static_cast<std::uint64_t>(c) << 16 | d;
}
constexpr std::uint64_t kRunning = Version(2, 3, 0, 2);

std::uint32_t Get32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

class Authenticode : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    newer_ = new std::string(Sign(BuildProgram(2, 3, 0, 3), "codesign"));
  }
  static void TearDownTestSuite() {
    delete newer_;
    newer_ = nullptr;
  }
  void SetUp() override {
    if (newer_->empty()) GTEST_SKIP() << "osslsigncode or the test certificates are missing";
  }
  static std::string* newer_;
};
std::string* Authenticode::newer_ = nullptr;

// SHA-256 of the test publisher's key, read from its certificate.
PublisherPin TestPublisher() {
  PublisherPin pin{};
  FILE* f = std::fopen(QUILLNET_TEST_PKI "/codesign.pem", "rb");
  if (!f) return pin;
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (!cert) return pin;
  unsigned char* der = nullptr;
  const int n = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert), &der);
  unsigned int length = 0;
  if (n > 0) EVP_Digest(der, static_cast<std::size_t>(n), pin.data(), &length, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  X509_free(cert);
  return pin;
}

TEST_F(Authenticode, OnlyOurSignatureOverTheUnchangedImageOfANewerVersionPasses) {
  const std::string& good = *newer_;
  const std::uint32_t table = Get32(good, 0x40 + 24 + 112 + 4 * 8);
  const std::uint32_t blockLength = Get32(good, table);
  ASSERT_GT(table, kRsrcOffset);
  ASSERT_EQ(table + (blockLength + 7) / 8 * 8, good.size());
  auto changed = [&](std::size_t at) {
    std::string b = good;
    b[at] = static_cast<char>(b[at] ^ 0x01);
    return b;
  };
  std::string padded = good;
  // Eight more bytes in the table, announced in its directory entry: outside
  // the image digest, so they must be refused on their own.
  padded.append(8, '\x5a');
  Put32(padded, 0x40 + 24 + 112 + 4 * 8 + 4, static_cast<std::uint32_t>(padded.size() - table));

  struct Case {
    const char* name;
    std::string file;
    SignatureCheck check;
    bool accepted;
  };
  const Case cases[] = {
      {"signed by us, newer", good, SignatureCheck::Ok, true},
      {"signed by us, the running version", Sign(BuildProgram(2, 3, 0, 2), "codesign"), SignatureCheck::Ok, false},
      {"signed by us, older", Sign(BuildProgram(2, 2, 9, 0), "codesign"), SignatureCheck::Ok, false},
      {"unsigned", BuildProgram(2, 3, 0, 3), SignatureCheck::Unsigned, false},
      {"signed by another publisher", Sign(BuildProgram(2, 3, 0, 3), "other-codesign"),
       SignatureCheck::OtherPublisher, false},
      {"a code byte changed", changed(kCodeOffset + 1), SignatureCheck::DigestMismatch, false},
      {"the version changed", changed(kRsrcOffset + 0x58 + 40 + 12), SignatureCheck::DigestMismatch, false},
      {"a header byte changed", changed(0x40 + 24 + 4), SignatureCheck::DigestMismatch, false},
      {"the signature's last byte changed", changed(table + 8 + blockLength - 8 - 1), SignatureCheck::BadSignature,
       false},
      {"the table's revision changed", changed(table + 4), SignatureCheck::DamagedTable, false},
      {"bytes hidden in the table after the signature", padded, SignatureCheck::DamagedTable, false},
      {"truncated", good.substr(0, good.size() - 100), SignatureCheck::DamagedTable, false},
      {"bytes appended", good + "tail", SignatureCheck::DamagedTable, false},
      {"not a program", "#!/bin/sh\necho hello\n", SignatureCheck::NotAProgram, false},
      {"empty", "", SignatureCheck::NotAProgram, false},
  };
  const PublisherPin ours = TestPublisher();
  for (const Case& c : cases) {
    ASSERT_FALSE(c.file.empty() && std::string(c.name) != "empty") << c.name << ": signing failed";
    const UpdateProgramVerdict v = CheckUpdateProgram(c.file, kRunning, ours);
    EXPECT_EQ(v.signature, c.check) << c.name << ": " << SignatureCheckText(v.signature);
    EXPECT_EQ(v.ok, c.accepted) << c.name;
  }
  // Padding inside the table, where the block leaves some, must be zeros.
  if (blockLength % 8 != 0) {
    EXPECT_EQ(VerifyPublisherSignature(changed(good.size() - 1), ours).check, SignatureCheck::DamagedTable);
  }
}

TEST_F(Authenticode, TheVersionComesFromTheResourceAndTheBuildPinsTheTestPublisher) {
  EXPECT_EQ(ReadFileVersion(*newer_), Version(2, 3, 0, 3));
  EXPECT_EQ(ReadFileVersion(BuildProgram(7, 0, 1, 65535)), Version(7, 0, 1, 65535));
  EXPECT_EQ(BuiltInPublisher(), TestPublisher()) << "this build does not pin the test signing identity";
  EXPECT_EQ(VerifyPublisherSignature(*newer_, BuiltInPublisher()).check, SignatureCheck::Ok);
}

}  // namespace
