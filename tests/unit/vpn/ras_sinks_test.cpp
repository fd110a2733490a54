#include "vpn/ras_sinks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace {

class CCountingSink : public IRasDialSink {
 public:
  void OnRasNotification(RasHandle, std::uint32_t state, std::uint32_t) override {
    ++calls;
    lastState = state;
    if (onCall) onCall();
  }
  int calls = 0;
  std::uint32_t lastState = 0;
  std::function<void()> onCall;
};

TEST(RasSinkRegistry, ForgottenSinksHearNothingAndOthersStillDo) {
  CRasSinkRegistry registry;
  CCountingSink a, b;
  const std::uintptr_t first = registry.Register(a);
  const std::uintptr_t second = registry.Register(a);  // a second dial of the same connection
  const std::uintptr_t other = registry.Register(b);
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
  EXPECT_NE(second, other);

  struct Step {
    std::uintptr_t id;
    bool delivered;
  };
  EXPECT_TRUE(registry.Deliver(first, nullptr, 2, 0));
  registry.Forget(a);
  for (const Step& s : {Step{first, false}, Step{second, false}, Step{other, true}, Step{0, false}, Step{999, false}})
    EXPECT_EQ(registry.Deliver(s.id, nullptr, 5, 0), s.delivered) << s.id;
  EXPECT_EQ(a.calls, 1);
  EXPECT_EQ(b.calls, 1);

  // Dialling again after Stop makes the connection heard again.
  const std::uintptr_t again = registry.Register(a);
  EXPECT_TRUE(registry.Deliver(again, nullptr, 14, 0));
  EXPECT_EQ(a.lastState, 14u);
  EXPECT_FALSE(registry.Deliver(first, nullptr, 14, 0));
}

TEST(RasSinkRegistry, ForgettingFromInsideTheNotificationDoesNotWaitForItself) {
  CRasSinkRegistry registry;
  CCountingSink sink;
  const std::uintptr_t id = registry.Register(sink);
  sink.onCall = [&] { registry.Forget(sink); };
  EXPECT_TRUE(registry.Deliver(id, nullptr, 0x2001, 0));
  EXPECT_FALSE(registry.Deliver(id, nullptr, 0x2001, 0));
}

TEST(RasSinkRegistry, ForgetReturnsOnlyAfterARunningNotificationHasReturned) {
  CRasSinkRegistry registry;
  CCountingSink sink;
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> returned{false};
  sink.onCall = [&] {
    entered.set_value();
    released.wait();
    returned = true;
  };
  const std::uintptr_t id = registry.Register(sink);
  std::thread service([&] { registry.Deliver(id, nullptr, 0x2000, 0); });
  entered.get_future().wait();
  bool returnedWhenForgotten = false;
  std::thread owner([&] {
    registry.Forget(sink);
    returnedWhenForgotten = returned.load();
  });
  // Gives a Forget that does not wait the chance to return too early; a
  // correct one waits for the release whatever the timing.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  release.set_value();
  owner.join();
  service.join();
  EXPECT_TRUE(returnedWhenForgotten);
}

}  // namespace
