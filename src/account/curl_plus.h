// One HTTP(S) transfer on a worker thread of its own, reporting to the
// user-interface thread by posted messages. Handles are cheap copies that
// share the transfer; the last copy to go waits for the worker.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/message_target.h"

// Word parameter of the posted events.
constexpr std::uintptr_t kCurlEventStatusOk = 1;  // first progress report that sees status 200
constexpr std::uintptr_t kCurlEventProgress = 2;  // every progress report while the status is 200
constexpr std::uintptr_t kCurlEventEnded = 3;     // the transfer has ended, successfully or not

struct CurlPlusLimits {
  long connectTimeoutMs = 10000;
  std::uint32_t noStatusTimeoutMs = 60000;
  // A body kept in memory never grows beyond this: a broken or hostile
  // server must not be able to exhaust the client's memory. A body that
  // would is dropped whole and the transfer aborted.
  std::size_t maxReceivedBytes = 16u * 1024u * 1024u;
  // A body written to a file (the update download) stops here: the largest
  // package is a few megabytes, a stream without end must not fill the disk.
  std::uint64_t maxFileBytes = 64ull * 1024u * 1024u;
  // A transfer slower than this many bytes a second for stallSeconds is
  // given up: a peer that trickles must not hold a download open for ever.
  long stallBytesPerSecond = 1;
  long stallSeconds = 60;
};

// Why a transfer that ended gave no usable body, as far as the user is told.
enum class TransferFailure {
  None,         // still running, or ended with a reply
  Certificate,  // the peer's certificate could not be verified
  Stalled,      // the reply began, then stayed under the stall limit too long
  TooLarge,     // the body outgrew its cap
  Other,        // no connection, a broken one, a cancel
};

// libcurl's process-wide set-up; the main window holds one for its life.
class CCurlGlobal {
 public:
  CCurlGlobal();
  ~CCurlGlobal();
  CCurlGlobal(const CCurlGlobal&) = delete;
  CCurlGlobal& operator=(const CCurlGlobal&) = delete;
  bool Ok() const { return ok_; }

 private:
  bool ok_;
};

class CCurlPlusImpl;

class CCurlPlus {
 public:
  // An empty handle: no transfer; Start fails.
  CCurlPlus() = default;
  explicit CCurlPlus(const std::wstring& url, const CurlPlusLimits& limits = CurlPlusLimits());

  // Appends key=value to the form body, the value URL-encoded; ignored once started.
  void AddField(std::string_view key, std::string_view value);
  void SetScrambleKey(std::int32_t key);
  // `target` must outlive the transfer (the receiver drops its handles first).
  void SetNotify(IMessageTarget* target, std::uint32_t message);
  // The caller opens and closes the stream; the body goes there instead of memory.
  void SetOutputFile(std::FILE* file);
  bool Start();
  // Asks a running transfer to stop at libcurl's next progress report.
  void Cancel();

  std::int32_t ResponseCode() const;
  double ContentLength() const;
  std::uint64_t ReceivedCount() const;
  // The body, once the transfer no longer runs (a second call gives nothing);
  // empty while it runs.
  std::string TakeReceived();
  bool Running() const;
  // True when the body outgrew CurlPlusLimits::maxReceivedBytes (or
  // maxFileBytes) and was dropped.
  bool Overflowed() const;
  // True when the transfer failed because the peer's certificate could not
  // be verified (unknown issuer, another host's name, expired, ...).
  bool CertificateRefused() const;
  TransferFailure Failure() const;
  // libcurl's result code of the transfer; 2 when there is no easy handle.
  std::int32_t Result() const;
  std::string ErrorText() const;
  const std::string& PostBody() const;

  // The long parameter of this transfer's events. A serial number rather
  // than an address, so an event that is still queued for a handle the
  // receiver has dropped can never match a newer handle at the same address.
  std::intptr_t EventId() const;
  bool IsEventOf(const PostedMessage& m) const { return impl_ && m.lParam == EventId(); }

  const std::wstring& Url() const { return url_; }
  std::int32_t ScrambleKey() const { return scrambleKey_; }
  std::uint32_t Message() const { return message_; }
  IMessageTarget* Target() const { return target_; }
  explicit operator bool() const { return impl_ != nullptr; }

 private:
  std::shared_ptr<CCurlPlusImpl> impl_;
  std::uint32_t message_ = 0;
  IMessageTarget* target_ = nullptr;
  std::wstring url_;
  std::int32_t scrambleKey_ = 0;
};

// The form encoding: ASCII letters and digits are kept, every other byte is
// "%" and two lower-case hex digits.
std::string UrlEncodeFormValue(std::string_view value);
