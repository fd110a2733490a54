#include "app/authenticode.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "publisher_pin.h"

namespace {

std::uint16_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}

std::uint32_t U32(std::string_view b, std::size_t at) {
  return static_cast<std::uint32_t>(U16(b, at)) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}

// True when [at, at + length) lies inside a buffer of `size` bytes.
bool Fits(std::size_t size, std::uint64_t at, std::uint64_t length) { return at <= size && length <= size - at; }

// One DER element: tag, where its contents start, how long they are.
struct Der {
  unsigned char tag = 0;
  std::size_t contents = 0;
  std::size_t length = 0;
  std::size_t end() const { return contents + length; }
};

// Reads the element at `at` inside [0, limit); definite lengths only, as DER has.
bool ReadDer(std::string_view b, std::size_t at, std::size_t limit, Der& out) {
  if (limit > b.size() || at + 2 > limit) return false;
  out.tag = static_cast<unsigned char>(b[at]);
  if ((out.tag & 0x1f) == 0x1f) return false;
  std::size_t pos = at + 1;
  std::size_t length = static_cast<unsigned char>(b[pos++]);
  if (length & 0x80) {
    const std::size_t count = length & 0x7f;
    if (count == 0 || count > 4 || pos + count > limit) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | static_cast<unsigned char>(b[pos++]);
  }
  if (!Fits(limit, pos, length)) return false;
  out.contents = pos;
  out.length = length;
  return true;
}

bool DerIs(std::string_view b, const Der& d, unsigned char tag, const unsigned char* value, std::size_t n) {
  return d.tag == tag && d.length == n && std::memcmp(b.data() + d.contents, value, n) == 0;
}

// 1.3.6.1.4.1.311.2.1.15, SPC_PE_IMAGE_DATA, and 2.16.840.1.101.3.4.2.1, SHA-256.
const unsigned char kPeImageData[] = {0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x0f};
const unsigned char kSha256[] = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

// SpcIndirectDataContent: SEQUENCE { SEQUENCE { type, value }, DigestInfo }.
// Gives the signed image digest and where the signed bytes are (the outer
// SEQUENCE's contents, without its tag and length).
bool ReadIndirectData(std::string_view b, std::string_view& digest, std::string_view& signedBytes) {
  Der outer, data, type, info, algorithm, oid, value;
  if (!ReadDer(b, 0, b.size(), outer) || outer.tag != 0x30 || outer.end() != b.size()) return false;
  if (!ReadDer(b, outer.contents, outer.end(), data) || data.tag != 0x30) return false;
  if (!ReadDer(b, data.contents, data.end(), type) || !DerIs(b, type, 0x06, kPeImageData, sizeof kPeImageData))
    return false;
  if (!ReadDer(b, data.end(), outer.end(), info) || info.tag != 0x30 || info.end() != outer.end()) return false;
  if (!ReadDer(b, info.contents, info.end(), algorithm) || algorithm.tag != 0x30) return false;
  if (!ReadDer(b, algorithm.contents, algorithm.end(), oid) || !DerIs(b, oid, 0x06, kSha256, sizeof kSha256))
    return false;
  if (!ReadDer(b, algorithm.end(), info.end(), value) || value.tag != 0x04 || value.length != 32 ||
      value.end() != info.end())
    return false;
  digest = b.substr(value.contents, value.length);
  signedBytes = b.substr(outer.contents, outer.length);
  return true;
}

bool ImageDigest(std::string_view image, const PeLayout& layout, unsigned char out[32]) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) return false;
  const std::size_t end = layout.tableOffset;
  auto add = [&](std::size_t from, std::size_t to) {
    return to <= from || EVP_DigestUpdate(ctx.get(), image.data() + from, to - from) == 1;
  };
  if (!add(0, layout.checksumOffset) || !add(layout.checksumOffset + 4, layout.securityEntryOffset) ||
      !add(layout.securityEntryOffset + 8, end))
    return false;
  // The signer hashed the image as if zero-padded to eight bytes.
  static const unsigned char kZeros[8] = {};
  if (end % 8 != 0 && EVP_DigestUpdate(ctx.get(), kZeros, 8 - end % 8) != 1) return false;
  unsigned int length = 0;
  return EVP_DigestFinal_ex(ctx.get(), out, &length) == 1 && length == 32;
}

bool SignerKeyIs(X509* signer, const PublisherPin& publisher) {
  unsigned char* der = nullptr;
  const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(signer), &der);
  if (length <= 0) return false;
  unsigned char hash[32];
  unsigned int hashLength = 0;
  const bool ok = EVP_Digest(der, static_cast<std::size_t>(length), hash, &hashLength, EVP_sha256(), nullptr) == 1;
  OPENSSL_free(der);
  return ok && hashLength == 32 && std::memcmp(hash, publisher.data(), 32) == 0;
}

SignatureCheck CheckPkcs7(std::string_view block, const unsigned char imageDigest[32], const PublisherPin& publisher) {
  const auto* p = reinterpret_cast<const unsigned char*>(block.data());
  std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(block.size())),
                                                   &PKCS7_free);
  if (!p7 || p != reinterpret_cast<const unsigned char*>(block.data()) + block.size()) return SignatureCheck::DamagedSignature;
  if (!PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents) return SignatureCheck::DamagedSignature;
  PKCS7* content = p7->d.sign->contents;
  char oid[64] = {};
  if (!content->type || OBJ_obj2txt(oid, sizeof oid, content->type, 1) <= 0 ||
      std::strcmp(oid, "1.3.6.1.4.1.311.2.1.4") != 0)
    return SignatureCheck::DamagedSignature;
  if (!content->d.other || content->d.other->type != V_ASN1_SEQUENCE || !content->d.other->value.sequence)
    return SignatureCheck::DamagedSignature;
  const ASN1_STRING* seq = content->d.other->value.sequence;
  const std::string_view indirect(reinterpret_cast<const char*>(ASN1_STRING_get0_data(seq)),
                                  static_cast<std::size_t>(ASN1_STRING_length(seq)));
  std::string_view signedDigest, signedBytes;
  if (!ReadIndirectData(indirect, signedDigest, signedBytes)) return SignatureCheck::DamagedSignature;
  if (std::memcmp(signedDigest.data(), imageDigest, 32) != 0) return SignatureCheck::DigestMismatch;
  if (sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(p7.get())) != 1) return SignatureCheck::DamagedSignature;
  // Only the SHA-2 digests we sign with: anything else is not ours, and
  // OpenSSL's verify leaks on some digest names that are not digests.
  const auto sha2 = [](const X509_ALGOR* a) {
    const int nid = a && a->algorithm ? OBJ_obj2nid(a->algorithm) : NID_undef;
    return nid == NID_sha256 || nid == NID_sha384 || nid == NID_sha512;
  };
  const STACK_OF(X509_ALGOR)* mdAlgs = p7->d.sign->md_algs;
  for (int i = 0; i < sk_X509_ALGOR_num(mdAlgs); ++i)
    if (!sha2(sk_X509_ALGOR_value(mdAlgs, i))) return SignatureCheck::DamagedSignature;
  if (!sha2(sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0)->digest_alg))
    return SignatureCheck::DamagedSignature;

  std::unique_ptr<BIO, decltype(&BIO_free)> in(
      BIO_new_mem_buf(signedBytes.data(), static_cast<int>(signedBytes.size())), &BIO_free);
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), &X509_STORE_free);
  if (!in || !store) return SignatureCheck::BadSignature;
  // The chain is not what we trust (our key is); the signature is checked
  // with the signer's certificate from the block, then that key is compared.
  const int verified =
      PKCS7_verify(p7.get(), nullptr, store.get(), in.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY | PKCS7_NOCHAIN);
  if (verified != 1) {
    ERR_clear_error();
    return SignatureCheck::BadSignature;
  }
  STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
  const bool ours = signers && sk_X509_num(signers) == 1 && SignerKeyIs(sk_X509_value(signers, 0), publisher);
  sk_X509_free(signers);
  ERR_clear_error();
  return ours ? SignatureCheck::Ok : SignatureCheck::OtherPublisher;
}

}  // namespace

bool ReadPeLayout(std::string_view image, PeLayout& layout) {
  layout = PeLayout();
  const std::size_t size = image.size();
  if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
  const std::uint32_t pe = U32(image, 0x3c);
  if (!Fits(size, pe, 24) || std::memcmp(image.data() + pe, "PE\0\0", 4) != 0) return false;
  const std::uint16_t optionalSize = U16(image, pe + 20);
  const std::uint64_t opt = pe + 24ull;
  if (!Fits(size, opt, optionalSize) || optionalSize < 2) return false;
  const std::uint16_t magic = U16(image, opt);
  std::uint32_t directories = 0;
  if (magic == 0x10b)
    directories = 96;
  else if (magic == 0x20b)
    directories = 112;
  else
    return false;
  // The certificate table is directory 4; the header must hold it.
  if (optionalSize < directories + 5 * 8) return false;
  if (U32(image, opt + directories - 4) < 5) return false;
  layout.headersSize = U32(image, opt + 60);
  layout.checksumOffset = static_cast<std::uint32_t>(opt + 64);
  layout.securityEntryOffset = static_cast<std::uint32_t>(opt + directories + 4 * 8);
  const std::uint32_t tableOffset = U32(image, layout.securityEntryOffset);
  const std::uint32_t tableSize = U32(image, layout.securityEntryOffset + 4);
  if (tableOffset == 0 && tableSize == 0) {
    layout.tableOffset = static_cast<std::uint32_t>(size);
    return true;
  }
  // A table must be the file's last bytes, eight-aligned, after the headers
  // it is described in: then every byte outside it is in the digest.
  if (tableOffset < layout.securityEntryOffset + 8 || tableSize == 0 || tableOffset % 8 != 0 ||
      static_cast<std::uint64_t>(tableOffset) + tableSize != size)
    return false;
  layout.tableOffset = tableOffset;
  layout.tableSize = tableSize;
  return true;
}

std::uint64_t ReadFileVersion(std::string_view image) {
  const std::size_t size = image.size();
  PeLayout layout;
  if (!ReadPeLayout(image, layout)) return 0;
  const std::uint32_t pe = U32(image, 0x3c);
  const std::uint16_t sections = U16(image, pe + 6);
  const std::uint64_t opt = pe + 24ull;
  const std::uint64_t table = opt + U16(image, pe + 20);
  if (!Fits(size, table, sections * 40ull)) return 0;
  const std::uint32_t directories = U16(image, opt) == 0x20b ? 112 : 96;
  const std::uint32_t resourceRva = U32(image, opt + directories + 2 * 8);
  if (resourceRva == 0) return 0;
  // RVA to file offset through the section table; 0 when it is not in a section's raw data.
  auto offsetOf = [&](std::uint32_t rva, std::uint32_t length) -> std::uint64_t {
    for (std::uint16_t i = 0; i < sections; ++i) {
      const std::uint64_t s = table + i * 40ull;
      const std::uint32_t va = U32(image, s + 12), rawSize = U32(image, s + 16), raw = U32(image, s + 20);
      if (rva >= va && static_cast<std::uint64_t>(rva) - va + length <= rawSize) {
        const std::uint64_t at = raw + (static_cast<std::uint64_t>(rva) - va);
        return Fits(size, at, length) ? at : 0;
      }
    }
    return 0;
  };
  const std::uint64_t root = offsetOf(resourceRva, 16);
  if (root == 0) return 0;
  // Three levels: type (16, the version), name, language; the first of each below the type.
  std::uint64_t dir = root;
  for (int level = 0; level < 3; ++level) {
    if (!Fits(size, dir, 16)) return 0;
    const std::uint32_t count = U16(image, dir + 12) + static_cast<std::uint32_t>(U16(image, dir + 14));
    if (!Fits(size, dir + 16, count * 8ull)) return 0;
    std::uint64_t chosen = 0;
    for (std::uint32_t i = 0; i < count && chosen == 0; ++i) {
      const std::uint64_t e = dir + 16 + i * 8ull;
      if (level > 0 || U32(image, e) == 16) chosen = e;
    }
    if (chosen == 0) return 0;
    const std::uint32_t target = U32(image, chosen + 4);
    const bool subdirectory = (target & 0x80000000u) != 0;
    if (subdirectory != (level < 2)) return 0;
    dir = root + (target & 0x7fffffffu);
  }
  if (!Fits(size, dir, 16)) return 0;
  const std::uint32_t dataRva = U32(image, dir), dataSize = U32(image, dir + 4);
  if (dataSize < 40 + 52) return 0;
  const std::uint64_t info = offsetOf(dataRva, dataSize);
  if (info == 0) return 0;
  static const char kKey[] = "V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0";
  if (U16(image, info + 2) < 52 || std::memcmp(image.data() + info + 6, kKey, sizeof kKey - 1) != 0) return 0;
  const std::uint64_t fixed = info + 40;
  if (U32(image, fixed) != 0xFEEF04BDu) return 0;
  return static_cast<std::uint64_t>(U32(image, fixed + 8)) << 32 | U32(image, fixed + 12);
}

namespace {

SignedProgram Verify(std::string_view image, const PublisherPin& publisher) {
  SignedProgram out;
  PeLayout layout;
  if (!ReadPeLayout(image, layout)) {
    // A program whose table is out of place (cut short, bytes appended) says so.
    const bool program = image.size() >= 0x40 && image[0] == 'M' && image[1] == 'Z' &&
                         Fits(image.size(), U32(image, 0x3c), 24) &&
                         std::memcmp(image.data() + U32(image, 0x3c), "PE\0\0", 4) == 0;
    out.check = program ? SignatureCheck::DamagedTable : SignatureCheck::NotAProgram;
    return out;
  }
  if (layout.tableSize == 0) {
    out.check = SignatureCheck::Unsigned;
    return out;
  }
  // One WIN_CERTIFICATE, revision 2, PKCS#7 signed data, then zeros only.
  const std::string_view table = image.substr(layout.tableOffset, layout.tableSize);
  if (table.size() < 8 + 2) {
    out.check = SignatureCheck::DamagedTable;
    return out;
  }
  const std::uint32_t length = U32(table, 0);
  if (length < 10 || length > table.size() || (length + 7ull) / 8 * 8 != table.size() || U16(table, 4) != 0x0200 ||
      U16(table, 6) != 0x0002) {
    out.check = SignatureCheck::DamagedTable;
    return out;
  }
  Der block;
  if (!ReadDer(table, 8, length, block) || block.tag != 0x30) {
    out.check = SignatureCheck::DamagedSignature;
    return out;
  }
  for (std::size_t i = block.end(); i < table.size(); ++i)
    if (table[i] != 0) {
      out.check = SignatureCheck::DamagedTable;
      return out;
    }
  unsigned char digest[32];
  if (!ImageDigest(image, layout, digest)) {
    out.check = SignatureCheck::DigestMismatch;
    return out;
  }
  out.check = CheckPkcs7(table.substr(8, block.end() - 8), digest, publisher);
  if (out.check == SignatureCheck::Ok) out.fileVersion = ReadFileVersion(image);
  return out;
}

}  // namespace

SignedProgram VerifyPublisherSignature(std::string_view image, const PublisherPin& publisher) {
  const SignedProgram out = Verify(image, publisher);
  // A refused file leaves OpenSSL's reasons queued on this thread; they say
  // nothing the result does not, and must not pile up or mislead a later call.
  ERR_clear_error();
  return out;
}

UpdateProgramVerdict CheckUpdateProgram(std::string_view image, std::uint64_t ownVersion,
                                        const PublisherPin& publisher) {
  UpdateProgramVerdict verdict;
  const SignedProgram program = VerifyPublisherSignature(image, publisher);
  verdict.signature = program.check;
  verdict.newer = program.fileVersion > ownVersion;
  verdict.ok = program.check == SignatureCheck::Ok && verdict.newer;
  return verdict;
}

const PublisherPin& BuiltInPublisher() {
  static const PublisherPin pin = QUILLNET_PUBLISHER_PIN;
  return pin;
}

const char* SignatureCheckText(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::Ok: return "signed by the publisher";
    case SignatureCheck::NotAProgram: return "not a Windows program";
    case SignatureCheck::Unsigned: return "not signed";
    case SignatureCheck::DamagedTable: return "its signature table is damaged";
    case SignatureCheck::DamagedSignature: return "its signature cannot be read";
    case SignatureCheck::DigestMismatch: return "changed after it was signed";
    case SignatureCheck::BadSignature: return "its signature is not valid";
    case SignatureCheck::OtherPublisher: return "signed by another publisher";
  }
  return "unknown";
}
