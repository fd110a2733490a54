// The bind module's side of the route request conversation: one persistent
// connection per process, requests serialised behind a lock, bounded waits,
// and a pause after any failure so that a missing or broken server costs an
// application nothing but its direct connection.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/tick.h"

class IRouteRequestChannel {
 public:
  virtual ~IRouteRequestChannel() = default;
  virtual bool Open() = 0;
  virtual void Close() = 0;
  // One whole message.
  virtual bool Send(const unsigned char* bytes, std::size_t length) = 0;
  // One reply message: its byte when it is exactly one byte long; kClosed
  // for an end, an error or a message of any other length; kTimedOut when
  // nothing came within `timeoutMs` (0: only what is already there).
  static constexpr int kClosed = -1;
  static constexpr int kTimedOut = -2;
  virtual int Receive(int timeoutMs) = 0;
};

// The platform's channel to the client's server; empty endpoint = the
// product's fixed pipe name or socket path.
std::unique_ptr<IRouteRequestChannel> CreateRouteRequestChannel(const std::string& endpoint);

class CRouteRequestClient {
 public:
  using Clock = std::function<Tick()>;
  static constexpr int kReplyTimeoutMs = 1000;
  // After a failure nothing is asked for this long.
  static constexpr std::uint32_t kPauseAfterFailureMs = 5000;
  // A route the server granted is not asked for again within this time; the
  // server keeps it for six minutes after each request.
  static constexpr std::uint32_t kAnswerReuseMs = 60000;
  static constexpr std::size_t kMaxUnanswered = 64;

  explicit CRouteRequestClient(IRouteRequestChannel& channel, Clock clock = GetTickMs,
                               int timeoutMs = kReplyTimeoutMs);

  enum class Result { Granted, Refused, Sent, Skipped, Failed };
  // `generation` is the tunnel's: answers of an earlier tunnel are forgotten.
  Result Request(std::uint32_t address, bool wait, std::uint32_t generation);

  // Around fork(): the child must not share the parent's connection.
  void BeforeFork();
  void AfterForkInParent();
  void AfterForkInChild();

 private:
  bool EnsureOpen(Tick now);
  void Fail(Tick now);
  // Reads replies to earlier unanswered requests; false when the conversation broke.
  bool TakeReply(int timeoutMs, Tick now);

  struct Answer {
    Tick at = 0;
    bool granted = false;
  };

  std::mutex lock_;
  IRouteRequestChannel& channel_;
  Clock clock_;
  int timeoutMs_;
  bool open_ = false;
  bool paused_ = false;
  Tick pausedAt_ = 0;
  std::uint32_t generation_ = 0;
  std::deque<std::uint32_t> unanswered_;
  std::map<std::uint32_t, Answer> answers_;
};
