// A stream of small posts from worker threads, delivered as batches: the
// receiver gets one wake-up message however many posts arrive before it
// takes them, and takes a bounded number per wake-up. Posted one by one, a
// thousand quick results queue a thousand messages ahead of everything else
// the receiving thread has to do.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/message_target.h"

class CMessageBatcher : public IMessageTarget {
 public:
  // `wakeMessage` is posted to `receiver` (wParam and lParam 0); each
  // TakeBatch hands over at most `maxPerBatch` posts.
  CMessageBatcher(IMessageTarget& receiver, std::uint32_t wakeMessage, std::size_t maxPerBatch);

  // Keeps the post; wakes the receiver unless a wake-up is already on its
  // way. False, keeping nothing, when the receiver refuses the wake-up.
  bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // On the wake message: the oldest posts in the order they came. When more
  // are left, the receiver is woken again, behind whatever it was sent
  // meanwhile, so that a flood never holds up its other messages.
  std::vector<PostedMessage> TakeBatch();
  std::size_t Pending() const;

 private:
  IMessageTarget& receiver_;
  const std::uint32_t wakeMessage_;
  const std::size_t maxPerBatch_;
  mutable std::mutex lock_;
  std::deque<PostedMessage> posts_;
  bool wakePending_ = false;
};
