#include "platform/message_target.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/tick.h"

namespace {

TEST(MessageQueue, KeepsEachSendersOrderAcrossThreads) {
  CMessageQueue queue;
  constexpr int kSenders = 4, kEach = 2000;
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([&queue, s] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(queue.Post(kWmUser + 1, static_cast<std::uintptr_t>(s), i));
    });
  std::vector<std::intptr_t> last(kSenders, -1);
  int received = 0;
  queue.Run(
      [&](const PostedMessage& m) {
        EXPECT_EQ(m.message, kWmUser + 1);
        EXPECT_EQ(m.lParam, last[m.wParam] + 1);
        last[m.wParam] = m.lParam;
        if (++received == kSenders * kEach) queue.Quit();
      },
      5000);
  for (std::thread& t : senders) t.join();
  EXPECT_EQ(received, kSenders * kEach);
}

TEST(MessageQueue, RunStopsOnQuitOrTimeout) {
  CMessageQueue queue;
  EXPECT_FALSE(queue.Run([](const PostedMessage&) {}, 20));
  std::thread quitter([&] { queue.Quit(); });
  EXPECT_TRUE(queue.Run([](const PostedMessage&) {}, 5000));
  quitter.join();
}

TEST(MessageQueue, ClosedQueueRefusesLikeADestroyedWindow) {
  CMessageQueue queue;
  ASSERT_TRUE(queue.Post(1, 0, 0));
  queue.Close();
  EXPECT_EQ(queue.Pending(), 0u);
  EXPECT_FALSE(queue.Post(2, 0, 0));
  EXPECT_FALSE(queue.TryTake().has_value());
}

TEST(Tick, ElapsedSurvivesTheWrap) {
  struct Case {
    Tick now, since;
    std::uint32_t elapsed;
  } cases[] = {
      {1500, 500, 1000},
      {100, 0xFFFFFF00u, 356},
      {0, 0xFFFFFFFFu, 1},
      {7, 7, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TickElapsed(c.now, c.since), c.elapsed);
  const Tick a = GetTickMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_GE(TickElapsed(GetTickMs(), a), 25u);
}

}  // namespace
