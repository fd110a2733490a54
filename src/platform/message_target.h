// How worker threads talk to the user-interface thread: they post a message
// and never touch the receiver's state. On Windows the receiver is a window
// (PostMessageW); on Linux and in tests a CMessageQueue with a run loop.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>

constexpr std::uint32_t kWmUser = 0x0400;
constexpr std::uint32_t kWmApp = 0x8000;

struct PostedMessage {
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

class IMessageTarget {
 public:
  virtual ~IMessageTarget() = default;
  // False when the receiver is gone; the sender then keeps ownership of
  // anything it meant to hand over in the parameters.
  virtual bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

class CMessageQueue : public IMessageTarget {
 public:
  bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;

  // Waits up to timeoutMs (negative: forever) for the next message.
  std::optional<PostedMessage> Wait(int timeoutMs);
  std::optional<PostedMessage> TryTake();

  // Delivers messages to `handler` until Quit() is called or, with a
  // non-negative timeoutMs, until that long passes without a message.
  // Returns false when it stopped on the timeout.
  bool Run(const std::function<void(const PostedMessage&)>& handler, int timeoutMs = -1);
  void Quit();

  // After Close, Post refuses and queued messages are dropped: the
  // equivalent of posting to a destroyed window.
  void Close();
  std::size_t Pending() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<PostedMessage> queue_;
  bool quit_ = false;
  bool closed_ = false;
};
