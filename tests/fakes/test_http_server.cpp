#include "fakes/test_http_server.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <cstdlib>

#include "platform/strings.h"
#include "platform/text_parse.h"

namespace {

std::string StatusLine(int status) {
  const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : status == 302 ? "Found" : "Status";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
}

std::size_t ContentLengthOf(const std::string& head) {
  const std::string lower = ToLowerAscii(head);
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(lower.c_str() + at + 17, nullptr, 10));
}

SSL_CTX* MakeTlsContext(std::string& certificatePem) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  bool ok = ctx && key && cert;
  if (ok) {
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    if (X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, "IP:127.0.0.1")) {
      X509_add_ext(cert, san, -1);
      X509_EXTENSION_free(san);
    }
    ok = X509_sign(cert, key, EVP_sha256()) > 0 && SSL_CTX_use_certificate(ctx, cert) == 1 &&
         SSL_CTX_use_PrivateKey(ctx, key) == 1;
    // A test may trust this one certificate as an operator's CA.
    if (BIO* bio = BIO_new(BIO_s_mem())) {
      char* data = nullptr;
      if (ok && PEM_write_bio_X509(bio, cert) == 1) {
        const long n = BIO_get_mem_data(bio, &data);
        certificatePem.assign(data, static_cast<std::size_t>(n));
      }
      BIO_free(bio);
    }
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  if (!ok && ctx) {
    SSL_CTX_free(ctx);
    ctx = nullptr;
  }
  return ctx;
}

// One accepted connection, plain or TLS.
class CConnection {
 public:
  CConnection(TestSocket s, SSL_CTX* tls) : s_(s) {
    if (!tls) return;
    ssl_ = SSL_new(tls);
    if (!ssl_ || SSL_set_fd(ssl_, static_cast<int>(s)) != 1 || SSL_accept(ssl_) != 1) failed_ = true;
  }
  ~CConnection() {
    if (ssl_) {
      if (!failed_) SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    TestCloseSocket(s_);
  }
  bool Failed() const { return failed_; }
  // As TestReceive.
  int Receive(char* buffer, int size, int timeoutMs) {
    if (!ssl_) return TestReceive(s_, buffer, size, timeoutMs);
    if (SSL_pending(ssl_) == 0 && !TestWaitReadable(s_, timeoutMs)) return -2;
    const int n = SSL_read(ssl_, buffer, size);
    if (n > 0) return n;
    const int error = SSL_get_error(ssl_, n);
    if (error == SSL_ERROR_WANT_READ) return -2;
    failed_ = error != SSL_ERROR_ZERO_RETURN;
    return error == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
  bool Send(const char* data, std::size_t size) {
    if (!ssl_) return TestSendAll(s_, data, size);
    while (size > 0) {
      const int n = SSL_write(ssl_, data, static_cast<int>(size));
      if (n <= 0) {
        failed_ = true;
        return false;
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  TestSocket s_;
  SSL* ssl_ = nullptr;
  bool failed_ = false;
};

}  // namespace

CTestHttpServer::CTestHttpServer(Handler handler, bool tls) : handler_(std::move(handler)) {
  if (tls && !(tls_ = MakeTlsContext(certificatePem_))) return;
  listener_ = TestListenLoopback(64, port_);
  if (listener_ != kNoTestSocket) listenThread_ = std::thread(&CTestHttpServer::Listen, this);
}

CTestHttpServer::~CTestHttpServer() {
  stop_.store(true);
  if (listenThread_.joinable()) listenThread_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& t : connections) t.join();
  TestCloseSocket(listener_);
  if (tls_) SSL_CTX_free(tls_);
}

std::wstring CTestHttpServer::BaseUrl() const {
  return (tls_ ? L"https://127.0.0.1:" : L"http://127.0.0.1:") + std::to_wstring(port_) + L"/";
}

std::vector<TestHttpRequest> CTestHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool CTestHttpServer::SleepUnlessStopped(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stop_.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(5)));
  }
  return false;
}

void CTestHttpServer::Listen() {
  while (!stop_.load()) {
    const TestSocket s = TestAccept(listener_, 20);
    if (s == kNoTestSocket) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back(&CTestHttpServer::Serve, this, s);
  }
}

void CTestHttpServer::Serve(TestSocket s) {
  CConnection connection(s, tls_);
  if (connection.Failed()) {
    closed_.fetch_add(1);
    return;
  }
  std::string data;
  char buffer[4096];
  std::size_t headEnd = std::string::npos;
  while (!stop_.load()) {
    if (headEnd != std::string::npos && data.size() >= headEnd + 4 + ContentLengthOf(data.substr(0, headEnd + 2)))
      break;
    const int n = connection.Receive(buffer, sizeof buffer, 20);
    if (n == -2) continue;
    if (n <= 0) {
      closed_.fetch_add(1);
      return;
    }
    data.append(buffer, static_cast<std::size_t>(n));
    if (headEnd == std::string::npos) headEnd = data.find("\r\n\r\n");
  }
  TestHttpRequest request;
  if (headEnd != std::string::npos) {
    const std::size_t space1 = data.find(' ');
    const std::size_t space2 = data.find(' ', space1 + 1);
    request.method = data.substr(0, space1);
    request.target = data.substr(space1 + 1, space2 - space1 - 1);
    request.body = data.substr(headEnd + 4);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  const TestHttpReply reply = handler_(request);
  bool ok = SleepUnlessStopped(reply.delayMs);
  if (reply.hang) {
    // Hold the connection without a word until the client gives up or we stop.
    while (ok && !stop_.load()) {
      const int n = connection.Receive(buffer, sizeof buffer, 20);
      if (n == 0 || n == -1) break;
    }
    ok = false;
  }
  if (ok) {
    const std::string head = StatusLine(reply.status) + "Content-Length: " + std::to_string(reply.body.size()) +
                             "\r\nConnection: close\r\n" + reply.extraHeaders + "\r\n";
    ok = connection.Send(head.data(), head.size());
    const std::size_t chunk = reply.chunkSize ? reply.chunkSize : reply.body.size();
    for (std::size_t at = 0; ok && at < reply.body.size(); at += chunk) {
      if (at > 0) ok = SleepUnlessStopped(reply.chunkDelayMs);
      if (ok) ok = connection.Send(reply.body.data() + at, std::min(chunk, reply.body.size() - at));
    }
  }
  closed_.fetch_add(1);
}

CSilentListener::CSilentListener() {
  listener_ = TestListenLoopback(0, port_);
  if (listener_ != kNoTestSocket) filler_ = TestConnectLoopback(port_);
}

CSilentListener::~CSilentListener() {
  TestCloseSocket(filler_);
  TestCloseSocket(listener_);
}

std::wstring CSilentListener::BaseUrl() const { return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/"; }
