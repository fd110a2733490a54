#include "account/curl_plus.h"

#include <curl/curl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "account/reply_document.h"
#include "account/trust_anchors.h"
#include "platform/strings.h"
#include "platform/tick.h"

namespace {

std::atomic<std::intptr_t> g_nextEventId{1};

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; FF)";

}  // namespace

namespace {

bool StartTlsLibrary() {
#ifdef _WIN32
  // A Linux system's configuration is its administrator's policy and stays.
  if (!KeepTlsLibraryFromReadingConfiguration()) return false;
#endif
  return true;
}

}  // namespace

CCurlGlobal::CCurlGlobal() : ok_(StartTlsLibrary() && curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK) {}

CCurlGlobal::~CCurlGlobal() {
  if (ok_) curl_global_cleanup();
}

std::string UrlEncodeFormValue(std::string_view value) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(value.size() * 3);
  for (const char ch : value) {
    const auto b = static_cast<unsigned char>(ch);
    if ((b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0x0f]);
    }
  }
  return out;
}

class CCurlPlusImpl {
 public:
  CCurlPlusImpl(const std::string& narrowUrl, const CurlPlusLimits& limits)
      : limits_(limits), eventId_(g_nextEventId.fetch_add(1)) {
    std::memset(errorText_, 0, sizeof errorText_);
    curl_ = curl_easy_init();
    if (!curl_) {
      result_ = CURLE_FAILED_INIT;
      return;
    }
    curl_easy_setopt(curl_, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(curl_, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, limits_.connectTimeoutMs);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CCurlPlusImpl::OnReceive);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, errorText_);
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CCurlPlusImpl::OnProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl_, CURLOPT_USERAGENT, kUserAgent);
    // The peer proves who it is, always: the client sends passwords and
    // runs what it downloads with administrator rights.
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 2L);
#ifdef _WIN32
    // The machine's own root store, kept current by the system; OpenSSL has
    // no bundle of its own on Windows.
    curl_easy_setopt(curl_, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
#endif
    curl_easy_setopt(curl_, CURLOPT_SSL_CTX_FUNCTION, &CCurlPlusImpl::OnSslContext);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, limits_.stallBytesPerSecond);
    curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, limits_.stallSeconds);
    // Name resolution must not use signals: several transfers run on
    // worker threads at once.
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    // Only web addresses: a reply must never come from a local file or
    // another protocol.
    curl_easy_setopt(curl_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl_, CURLOPT_URL, narrowUrl.c_str());
  }

  ~CCurlPlusImpl() {
    if (worker_.joinable()) {
      if (running_.load(std::memory_order_acquire)) cancel_.store(true);
      worker_.join();
    }
    if (curl_) curl_easy_cleanup(curl_);
  }

  CCurlPlusImpl(const CCurlPlusImpl&) = delete;
  CCurlPlusImpl& operator=(const CCurlPlusImpl&) = delete;

  void AddField(std::string_view key, std::string_view value) {
    if (started_) return;
    if (!postBody_.empty()) postBody_.push_back('&');
    postBody_.append(key);
    postBody_.push_back('=');
    postBody_.append(UrlEncodeFormValue(value));
  }

  bool Start(IMessageTarget* target, std::uint32_t message) {
    if (!curl_ || started_) return false;
    target_ = target;
    message_ = message;
    cancel_.store(false);
    okNotified_ = false;
    if (!postBody_.empty()) {
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, postBody_.c_str());
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody_.size()));
    } else {
      // Only a GET follows a redirect, and only to https: a form carries
      // secrets and is never sent on to wherever a reply points.
      curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
      curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 5L);
      curl_easy_setopt(curl_, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    }
    if (outputFile_) curl_easy_setopt(curl_, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxFileBytes));
    running_.store(true, std::memory_order_release);
    try {
      worker_ = std::thread(&CCurlPlusImpl::Work, this);
    } catch (const std::system_error&) {
      running_.store(false, std::memory_order_release);
      return false;
    }
    started_ = true;
    return true;
  }

  void Cancel() {
    if (running_.load(std::memory_order_acquire)) cancel_.store(true);
  }

  std::string TakeReceived() {
    if (running_.load(std::memory_order_acquire)) return {};
    return std::move(received_);
  }

  CURL* curl_ = nullptr;
  std::atomic<std::int32_t> result_{CURLE_OK};
  std::atomic<std::int32_t> responseCode_{0};
  std::atomic<double> contentLength_{-1.0};
  std::atomic<std::uint64_t> receivedCount_{0};
  std::atomic<bool> running_{false};
  std::atomic<bool> overflowed_{false};
  std::int32_t scrambleKey_ = 0;
  std::FILE* outputFile_ = nullptr;
  std::string postBody_;
  char errorText_[CURL_ERROR_SIZE + 1];
  std::intptr_t EventId() const { return eventId_; }

 private:
  void Post(std::uintptr_t kind) {
    if (target_) target_->Post(message_, kind, eventId_);
  }

  void ReadStatus() {
    long code = 0;
    responseCode_.store(curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK
                            ? static_cast<std::int32_t>(code)
                            : -1);
    curl_off_t length = -1;
    contentLength_.store(curl_easy_getinfo(curl_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK
                             ? static_cast<double>(length)
                             : -1.0);
  }

  void Work() {
    startTick_ = GetTickMs();
    const CURLcode rc = curl_easy_perform(curl_);
    ReadStatus();
    result_.store(rc);
    running_.store(false, std::memory_order_release);
    Post(kCurlEventEnded);
  }

  static size_t OnReceive(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<CCurlPlusImpl*>(user);
    const size_t n = size * count;
    if (n == 0) return 0;
    std::string piece(data, n);
    UnscrambleReply(piece.data(), piece.size(), self->scrambleKey_);
    size_t taken = n;
    if (self->outputFile_) {
      // The announced length was checked by libcurl; a body without one is checked here.
      if (self->receivedCount_.load() + n > self->limits_.maxFileBytes) {
        self->overflowed_.store(true);
        return 0;
      }
      taken = std::fwrite(piece.data(), 1, n, self->outputFile_);
    } else {
      if (self->received_.size() + n > self->limits_.maxReceivedBytes) {
        self->overflowed_.store(true);
        std::string().swap(self->received_);
        return 0;  // aborts the transfer
      }
      self->received_.append(piece);
    }
    self->receivedCount_.fetch_add(taken);
    return taken;
  }

  static CURLcode OnSslContext(CURL*, void* sslContext, void*) {
    AddExtraTrustAnchorsTo(sslContext);
    return CURLE_OK;
  }

  static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* self = static_cast<CCurlPlusImpl*>(user);
    if (self->cancel_.load()) return 1;
    self->ReadStatus();
    const std::int32_t status = self->responseCode_.load();
    if (status == 200) {
      if (!self->okNotified_) {
        self->okNotified_ = true;
        self->Post(kCurlEventStatusOk);
      }
      self->Post(kCurlEventProgress);
      return 0;
    }
    if (status != 0) return 0;
    return TickElapsed(GetTickMs(), self->startTick_) > self->limits_.noStatusTimeoutMs ? 1 : 0;
  }

  CurlPlusLimits limits_;
  const std::intptr_t eventId_;
  std::thread worker_;
  std::atomic<bool> cancel_{false};
  bool okNotified_ = false;
  bool started_ = false;
  Tick startTick_ = 0;
  std::string received_;
  IMessageTarget* target_ = nullptr;
  std::uint32_t message_ = 0;
};

CCurlPlus::CCurlPlus(const std::wstring& url, const CurlPlusLimits& limits)
    : impl_(std::make_shared<CCurlPlusImpl>(WideToNarrow(url), limits)), url_(url) {}

void CCurlPlus::AddField(std::string_view key, std::string_view value) {
  if (impl_) impl_->AddField(key, value);
}

void CCurlPlus::SetScrambleKey(std::int32_t key) {
  scrambleKey_ = key;
  if (impl_ && !impl_->running_.load()) impl_->scrambleKey_ = key;
}

void CCurlPlus::SetNotify(IMessageTarget* target, std::uint32_t message) {
  target_ = target;
  message_ = message;
}

void CCurlPlus::SetOutputFile(std::FILE* file) {
  if (impl_ && !impl_->running_.load()) impl_->outputFile_ = file;
}

bool CCurlPlus::Start() { return impl_ && impl_->Start(target_, message_); }

void CCurlPlus::Cancel() {
  if (impl_) impl_->Cancel();
}

std::int32_t CCurlPlus::ResponseCode() const { return impl_ ? impl_->responseCode_.load() : 0; }

double CCurlPlus::ContentLength() const { return impl_ ? impl_->contentLength_.load() : -1.0; }

std::uint64_t CCurlPlus::ReceivedCount() const { return impl_ ? impl_->receivedCount_.load() : 0; }

std::string CCurlPlus::TakeReceived() { return impl_ ? impl_->TakeReceived() : std::string(); }

bool CCurlPlus::Running() const { return impl_ && impl_->running_.load(std::memory_order_acquire); }

bool CCurlPlus::Overflowed() const { return impl_ && impl_->overflowed_.load(); }

bool CCurlPlus::CertificateRefused() const {
  if (Running()) return false;
  const std::int32_t r = Result();
  return r == CURLE_PEER_FAILED_VERIFICATION || r == CURLE_SSL_CACERT_BADFILE || r == CURLE_SSL_ISSUER_ERROR;
}

TransferFailure CCurlPlus::Failure() const {
  if (!impl_) return TransferFailure::Other;
  if (Running()) return TransferFailure::None;
  const std::int32_t r = Result();
  if (r == CURLE_OK) return TransferFailure::None;
  if (CertificateRefused()) return TransferFailure::Certificate;
  if (Overflowed() || r == CURLE_FILESIZE_EXCEEDED) return TransferFailure::TooLarge;
  // The same code ends a connection that never came; only a peer that has
  // answered can have stalled.
  if (r == CURLE_OPERATION_TIMEDOUT && ResponseCode() > 0) return TransferFailure::Stalled;
  return TransferFailure::Other;
}

std::int32_t CCurlPlus::Result() const { return impl_ ? impl_->result_.load() : CURLE_FAILED_INIT; }

std::string CCurlPlus::ErrorText() const {
  if (!impl_ || impl_->running_.load(std::memory_order_acquire)) return {};
  return impl_->errorText_;
}

const std::string& CCurlPlus::PostBody() const {
  static const std::string kEmpty;
  return impl_ ? impl_->postBody_ : kEmpty;
}

std::intptr_t CCurlPlus::EventId() const { return impl_ ? impl_->EventId() : 0; }
