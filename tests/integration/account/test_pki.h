// The test trust made by scripts/test-pki (a CA, a server certificate for
// 127.0.0.1), and certificates a real service should never have: signed by
// nobody we know, for another host, or expired. Those are issued here, in
// memory, by the test CA (or by a key of their own).
#pragma once
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "platform/file_io.h"
#include "platform/strings.h"

#ifndef QUILLNET_TEST_PKI
#define QUILLNET_TEST_PKI "/var/cache/quillnet/test-pki"
#endif

inline std::string TestPkiFile(const char* name) { return std::string(QUILLNET_TEST_PKI) + "/" + name; }

inline std::string TestPkiText(const char* name) {
  std::string bytes;
  ReadWholeFile(NarrowToWide(TestPkiFile(name)), bytes);
  return bytes;
}

enum class BadCertificate { SelfSigned, OtherHost, Expired };

struct PemPair {
  std::string certificate;
  std::string key;
};

// A server certificate of the given fault for 127.0.0.1 (or another name).
inline PemPair IssueBadServerCertificate(BadCertificate kind) {
  PemPair out;
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(2048), &EVP_PKEY_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(X509_new(), &X509_free);
  if (!key || !cert) return out;
  X509* caCert = nullptr;
  EVP_PKEY* caKey = nullptr;
  if (kind != BadCertificate::SelfSigned) {
    if (FILE* f = std::fopen(TestPkiFile("ca.pem").c_str(), "rb")) {
      caCert = PEM_read_X509(f, nullptr, nullptr, nullptr);
      std::fclose(f);
    }
    if (FILE* f = std::fopen(TestPkiFile("ca.key").c_str(), "rb")) {
      caKey = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
      std::fclose(f);
    }
    if (!caCert || !caKey) {
      X509_free(caCert);
      EVP_PKEY_free(caKey);
      return out;
    }
  }
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(std::time(nullptr) & 0x7fffffff));
  if (kind == BadCertificate::Expired) {
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -30L * 24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), -24L * 3600);
  } else {
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
  }
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  const char* cn = kind == BadCertificate::OtherHost ? "login.elsewhere.example" : "127.0.0.1";
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
  X509_set_issuer_name(cert.get(), caCert ? X509_get_subject_name(caCert) : name);
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, caCert ? caCert : cert.get(), cert.get(), nullptr, nullptr, 0);
  const char* san = kind == BadCertificate::OtherHost ? "DNS:login.elsewhere.example" : "IP:127.0.0.1,DNS:localhost";
  if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, san)) {
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
  }
  const bool signedOk = X509_sign(cert.get(), caKey ? caKey : key.get(), EVP_sha256()) > 0;
  X509_free(caCert);
  EVP_PKEY_free(caKey);
  if (!signedOk) return out;
  auto toPem = [](auto write) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    write(bio.get());
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
  };
  out.certificate = toPem([&](BIO* b) { PEM_write_bio_X509(b, cert.get()); });
  out.key = toPem([&](BIO* b) { PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
  return out;
}
