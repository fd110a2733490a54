// A clock that only moves when someone sleeps on it: a poll loop runs to its
// limit at once and its sleeps are kept for inspection.
#pragma once
#include <mutex>
#include <vector>

#include "platform/clock.h"

class CFakeClock : public IClock {
 public:
  explicit CFakeClock(Tick start = 1000) : now_(start) {}
  Tick Now() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void Sleep(std::uint32_t ms) override {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(ms);
    now_ += ms;
  }
  void Advance(std::uint32_t ms) {
    std::lock_guard lock(mutex_);
    now_ += ms;
  }
  std::vector<std::uint32_t> Sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }
  std::uint32_t Slept() const {
    std::lock_guard lock(mutex_);
    std::uint32_t total = 0;
    for (std::uint32_t s : sleeps_) total += s;
    return total;
  }

 private:
  mutable std::mutex mutex_;
  Tick now_;
  std::vector<std::uint32_t> sleeps_;
};
