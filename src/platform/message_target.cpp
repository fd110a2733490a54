#include "platform/message_target.h"

#include <chrono>

bool CMessageQueue::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  // Notified under the lock: a reader woken by this very message may
  // otherwise destroy the queue while the notification is still under way.
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) return false;
  queue_.push_back({message, wParam, lParam});
  ready_.notify_one();
  return true;
}

std::optional<PostedMessage> CMessageQueue::Wait(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto hasWork = [this] { return !queue_.empty() || quit_; };
  if (timeoutMs < 0) {
    ready_.wait(lock, hasWork);
  } else if (!ready_.wait_for(lock, std::chrono::milliseconds(timeoutMs), hasWork)) {
    return std::nullopt;
  }
  if (queue_.empty()) return std::nullopt;
  PostedMessage m = queue_.front();
  queue_.pop_front();
  return m;
}

std::optional<PostedMessage> CMessageQueue::TryTake() { return Wait(0); }

bool CMessageQueue::Run(const std::function<void(const PostedMessage&)>& handler, int timeoutMs) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) {
        quit_ = false;
        return true;
      }
    }
    std::optional<PostedMessage> m = Wait(timeoutMs);
    if (m) {
      handler(*m);
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (quit_) {
      quit_ = false;
      return true;
    }
    return false;
  }
}

void CMessageQueue::Quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  ready_.notify_all();
}

void CMessageQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    queue_.clear();
  }
  ready_.notify_all();
}

std::size_t CMessageQueue::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}
