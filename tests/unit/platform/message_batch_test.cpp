#include "platform/message_batch.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kWake = kWmApp + 9;
constexpr std::uint32_t kItem = kWmUser + 1;

// Steps over one batcher (at most 3 per batch) and the receiver's queue:
// 'p' posts the next numbered item, 't' takes a batch after taking one wake
// message from the receiver, 'c' closes the receiver. `batches` lists what
// each 't' got as item numbers; `wakes` is what is left waiting for the
// receiver at the end.
struct Case {
  const char* name;
  std::string steps;
  std::vector<std::vector<int>> batches;
  std::size_t wakes;
  std::size_t pending;
};

TEST(MessageBatcher, WakesOnceAndHandsOverInBoundedBatches) {
  const Case cases[] = {
      {"one post wakes once", "p", {}, 1, 1},
      {"many posts still wake once", "pppp", {}, 1, 4},
      {"a batch takes everything up to the bound", "ppt", {{0, 1}}, 0, 0},
      {"what is left over wakes again", "pppppt", {{0, 1, 2}}, 1, 2},
      {"the next wake takes the rest", "ppppptt", {{0, 1, 2}, {3, 4}}, 0, 0},
      {"a post after an emptying take wakes again", "ptp", {{0}}, 1, 1},
      {"a post before the take rides along", "pppptpt", {{0, 1, 2}, {3, 4}}, 0, 0},
      {"a closed receiver keeps nothing", "pptc" "p", {{0, 1}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMessageQueue receiver;
    CMessageBatcher batcher(receiver, kWake, 3);
    int next = 0;
    std::vector<std::vector<int>> batches;
    for (char step : c.steps) {
      if (step == 'p') {
        const bool kept = batcher.Post(kItem, static_cast<std::uintptr_t>(next), -next);
        ++next;
        if (!kept) continue;
      } else if (step == 'c') {
        receiver.Close();
      } else {
        const auto wake = receiver.TryTake();
        ASSERT_TRUE(wake.has_value());
        EXPECT_EQ(wake->message, kWake);
        std::vector<int> got;
        for (const PostedMessage& m : batcher.TakeBatch()) {
          EXPECT_EQ(m.message, kItem);
          EXPECT_EQ(m.lParam, -static_cast<std::intptr_t>(m.wParam));
          got.push_back(static_cast<int>(m.wParam));
        }
        batches.push_back(got);
      }
    }
    EXPECT_EQ(batches, c.batches);
    EXPECT_EQ(receiver.Pending(), c.wakes);
    EXPECT_EQ(batcher.Pending(), c.pending);
  }
}

// Several workers post while the receiver takes: every post arrives once,
// each sender's in order, and the receiver is never left with posts but no
// wake-up on its way.
TEST(MessageBatcher, NothingIsLostOrStrandedUnderConcurrentPosts) {
  CMessageQueue receiver;
  CMessageBatcher batcher(receiver, kWake, 16);
  constexpr int kSenders = 3, kEach = 3000;
  std::vector<std::thread> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.emplace_back([&batcher, s] {
      for (int i = 0; i < kEach; ++i) batcher.Post(kItem, static_cast<std::uintptr_t>(s), i);
    });
  std::vector<std::intptr_t> last(kSenders, -1);
  int received = 0;
  bool ordered = true;
  receiver.Run(
      [&](const PostedMessage& wake) {
        EXPECT_EQ(wake.message, kWake);
        const std::vector<PostedMessage> batch = batcher.TakeBatch();
        EXPECT_LE(batch.size(), 16u);
        for (const PostedMessage& m : batch) {
          ordered = ordered && m.lParam == last[m.wParam] + 1;
          last[m.wParam] = m.lParam;
          ++received;
        }
        if (received == kSenders * kEach) receiver.Quit();
      },
      10000);
  for (std::thread& t : senders) t.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(received, kSenders * kEach);
  EXPECT_EQ(batcher.Pending(), 0u);
}

}  // namespace
