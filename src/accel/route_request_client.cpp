#include "accel/route_request_client.h"

#include <cstring>

CRouteRequestClient::CRouteRequestClient(IRouteRequestChannel& channel, Clock clock, int timeoutMs)
    : channel_(channel), clock_(std::move(clock)), timeoutMs_(timeoutMs) {}

void CRouteRequestClient::Fail(Tick now) {
  if (open_) channel_.Close();
  open_ = false;
  unanswered_.clear();
  paused_ = true;
  pausedAt_ = now;
}

bool CRouteRequestClient::EnsureOpen(Tick now) {
  if (open_) return true;
  if (paused_ && TickElapsed(now, pausedAt_) < kPauseAfterFailureMs) return false;
  paused_ = false;
  if (!channel_.Open()) {
    Fail(now);
    return false;
  }
  open_ = true;
  return true;
}

bool CRouteRequestClient::TakeReply(int timeoutMs, Tick now) {
  const int reply = channel_.Receive(timeoutMs);
  if (reply == IRouteRequestChannel::kTimedOut) return timeoutMs == 0;
  if (reply != 0 && reply != 1) return false;  // an end, an error or garbage
  answers_[unanswered_.front()] = Answer{now, reply == 1};
  unanswered_.pop_front();
  return true;
}

CRouteRequestClient::Result CRouteRequestClient::Request(std::uint32_t address, bool wait,
                                                         std::uint32_t generation) {
  std::lock_guard<std::mutex> hold(lock_);
  const Tick now = clock_();
  if (generation != generation_) {
    answers_.clear();
    generation_ = generation;
  }
  auto known = answers_.find(address);
  if (known != answers_.end()) {
    if (TickElapsed(now, known->second.at) < kAnswerReuseMs)
      return known->second.granted ? Result::Granted : Result::Refused;
    answers_.erase(known);
  }
  if (!EnsureOpen(now)) return Result::Skipped;

  // Replies to asynchronous requests that have arrived meanwhile.
  while (!unanswered_.empty()) {
    const std::size_t before = unanswered_.size();
    if (!TakeReply(0, now)) {
      Fail(now);
      return Result::Failed;
    }
    if (unanswered_.size() == before) break;
  }
  unsigned char request[5] = {1};
  std::memcpy(request + 1, &address, 4);
  if (!channel_.Send(request, sizeof request)) {
    Fail(now);
    return Result::Failed;
  }
  unanswered_.push_back(address);
  // A server that leaves this many requests unanswered is not answering.
  if (!wait && unanswered_.size() < kMaxUnanswered) return Result::Sent;

  // Everything asked before comes back first, in order, all within one timeout.
  while (!unanswered_.empty()) {
    const std::int64_t left = static_cast<std::int64_t>(timeoutMs_) - TickElapsed(clock_(), now);
    if (left <= 0 || !TakeReply(static_cast<int>(left), now)) {
      // A late reply would be read as the answer to the next request.
      Fail(now);
      return Result::Failed;
    }
  }
  return answers_[address].granted ? Result::Granted : Result::Refused;
}

void CRouteRequestClient::BeforeFork() { lock_.lock(); }

void CRouteRequestClient::AfterForkInParent() { lock_.unlock(); }

void CRouteRequestClient::AfterForkInChild() {
  // The connection is the parent's; the child opens its own on first need.
  if (open_) channel_.Close();
  open_ = false;
  unanswered_.clear();
  lock_.unlock();
}
