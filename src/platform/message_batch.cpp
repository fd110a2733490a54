#include "platform/message_batch.h"

#include <algorithm>

CMessageBatcher::CMessageBatcher(IMessageTarget& receiver, std::uint32_t wakeMessage, std::size_t maxPerBatch)
    : receiver_(receiver), wakeMessage_(wakeMessage), maxPerBatch_(std::max<std::size_t>(maxPerBatch, 1)) {}

bool CMessageBatcher::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!wakePending_) {
    // Posted under the lock: a take running meanwhile must not see the
    // wake-up as gone while this one is still being posted.
    if (!receiver_.Post(wakeMessage_, 0, 0)) return false;
    wakePending_ = true;
  }
  posts_.push_back({message, wParam, lParam});
  return true;
}

std::vector<PostedMessage> CMessageBatcher::TakeBatch() {
  std::lock_guard<std::mutex> hold(lock_);
  const std::size_t n = std::min(posts_.size(), maxPerBatch_);
  std::vector<PostedMessage> batch(posts_.begin(), posts_.begin() + static_cast<std::ptrdiff_t>(n));
  posts_.erase(posts_.begin(), posts_.begin() + static_cast<std::ptrdiff_t>(n));
  // With posts left, wake the receiver again rather than keep it; a refused
  // wake-up means it has gone, and its posts go with it.
  wakePending_ = !posts_.empty() && receiver_.Post(wakeMessage_, 0, 0);
  if (!wakePending_) posts_.clear();
  return batch;
}

std::size_t CMessageBatcher::Pending() const {
  std::lock_guard<std::mutex> hold(lock_);
  return posts_.size();
}
