#include "account/trust_anchors.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <mutex>
#include <vector>

#include "account/reply_document.h"
#include "platform/file_io.h"

namespace {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using AnchorList = std::vector<X509Ptr>;

std::mutex g_anchorsLock;
std::shared_ptr<const AnchorList> g_anchors;

std::shared_ptr<const AnchorList> CurrentAnchors() {
  std::lock_guard<std::mutex> hold(g_anchorsLock);
  return g_anchors;
}

// Every certificate of the text, or nothing when any block is damaged: a
// half-read operator file must not look like a working one.
std::shared_ptr<AnchorList> ParsePem(std::string_view pem) {
  auto list = std::make_shared<AnchorList>();
  if (pem.empty() || pem.size() > 1024 * 1024) return nullptr;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
  if (!bio) return nullptr;
  for (;;) {
    X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (!cert) break;
    list->emplace_back(cert);
  }
  const unsigned long error = ERR_peek_last_error();
  ERR_clear_error();
  // Running out of blocks is the normal end; anything else is damage.
  if (error != 0 && ERR_GET_REASON(error) != PEM_R_NO_START_LINE) return nullptr;
  if (list->empty()) return nullptr;
  return list;
}

}  // namespace

bool KeepTlsLibraryFromReadingConfiguration() {
  // The library's start runs once: started without its configuration, a
  // later start that asks for it (libcurl's does) reads nothing.
  return OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) == 1;
}

namespace {

bool PlainFileName(const std::wstring& name) {
  if (name.empty() || name.size() > 128 || name.front() == L'.') return false;
  for (const wchar_t ch : name) {
    const bool ok = (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z') || (ch >= L'0' && ch <= L'9') ||
                    ch == L'.' || ch == L'-' || ch == L'_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool SetExtraTrustAnchorsPem(std::string_view pem) {
  std::shared_ptr<const AnchorList> list = ParsePem(pem);
  std::lock_guard<std::mutex> hold(g_anchorsLock);
  g_anchors = list;
  return list != nullptr;
}

void ClearExtraTrustAnchors() {
  std::lock_guard<std::mutex> hold(g_anchorsLock);
  g_anchors.reset();
}

bool HasExtraTrustAnchors() { return CurrentAnchors() != nullptr; }

std::wstring OperatorCaFilePath(const std::wstring& overrideFilePath, const std::wstring& caFileValue) {
  if (!PlainFileName(caFileValue)) return {};
  const std::size_t slash = overrideFilePath.find_last_of(L"/\\");
  if (slash == std::wstring::npos) return {};
  return overrideFilePath.substr(0, slash + 1) + caFileValue;
}

OperatorCaLoad LoadOperatorCaFile(const std::wstring& overrideFilePath) {
  const std::wstring value = IniReadString(overrideFilePath, L"Main", L"CaFile", L"");
  if (value.empty()) {
    ClearExtraTrustAnchors();
    return OperatorCaLoad::NotNamed;
  }
  const std::wstring path = OperatorCaFilePath(overrideFilePath, value);
  std::string pem;
  if (path.empty() || !ReadWholeFile(path, pem) || !SetExtraTrustAnchorsPem(pem)) {
    ClearExtraTrustAnchors();
    return OperatorCaLoad::Refused;
  }
  return OperatorCaLoad::Loaded;
}

void AddExtraTrustAnchorsTo(void* sslContext) {
  const std::shared_ptr<const AnchorList> anchors = CurrentAnchors();
  if (!anchors || !sslContext) return;
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
  if (!store) return;
  for (const X509Ptr& cert : *anchors) X509_STORE_add_cert(store, cert.get());
  // A certificate that is already there is not an error worth keeping.
  ERR_clear_error();
}
