#include "accel/route_request_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

// A server in memory: each request is answered from a script; an answer
// may be held back (the server is slow) or be garbage.
class CScriptedChannel : public IRouteRequestChannel {
 public:
  bool Open() override {
    ++opens;
    open = serverThere;
    return open;
  }
  void Close() override {
    ++closes;
    open = false;
    inFlight.clear();
  }
  bool Send(const unsigned char* bytes, std::size_t length) override {
    if (!open) return false;
    sent.emplace_back(bytes, bytes + length);
    if (!script.empty()) {
      inFlight.push_back(script.front());
      script.pop_front();
    } else {
      inFlight.push_back(1);
    }
    return true;
  }
  int Receive(int timeoutMs) override {
    waits.push_back(timeoutMs);
    if (!open) return kClosed;
    while (!inFlight.empty() && inFlight.front() == kHeld) {
      if (releaseHeld) {
        inFlight.front() = 1;
        break;
      }
      if (onWait) onWait(timeoutMs);
      return kTimedOut;
    }
    if (inFlight.empty()) return kTimedOut;
    const int r = inFlight.front();
    inFlight.pop_front();
    return r;
  }

  static constexpr int kHeld = 1000;
  bool serverThere = true;
  bool open = false;
  bool releaseHeld = false;
  std::function<void(int)> onWait;
  std::deque<int> script;  // reply per request: 0, 1, kClosed, a garbage byte, kHeld
  std::deque<int> inFlight;
  std::vector<std::vector<unsigned char>> sent;
  std::vector<int> waits;
  int opens = 0, closes = 0;
};

class RequestClient : public ::testing::Test {
 protected:
  using R = CRouteRequestClient::Result;
  std::uint32_t Address(unsigned char last) { return 0x000033C6u | (static_cast<std::uint32_t>(last) << 24); }
  Tick now = 5000;
  CScriptedChannel channel;
  CRouteRequestClient client{channel, [this] { return now; }, 700};
};

TEST_F(RequestClient, SendsTheFiveByteRequestOnOneConnection) {
  channel.script = {1, 0};
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Granted);
  EXPECT_EQ(client.Request(Address(8), true, 1), R::Refused);
  ASSERT_EQ(channel.sent.size(), 2u);
  const std::uint32_t a = Address(7);
  std::vector<unsigned char> expected(5, 1);
  std::memcpy(expected.data() + 1, &a, 4);
  EXPECT_EQ(channel.sent[0], expected);
  EXPECT_EQ(channel.opens, 1);
  EXPECT_EQ(channel.waits.back(), 700);
}

TEST_F(RequestClient, AnswersAreReusedForAWhileAndForgottenWithANewTunnel) {
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Granted);
  now += CRouteRequestClient::kAnswerReuseMs - 1;
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Granted);
  EXPECT_EQ(channel.sent.size(), 1u);
  now += 1;
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Granted);
  EXPECT_EQ(channel.sent.size(), 2u) << "asked again so the server keeps the route";
  EXPECT_EQ(client.Request(Address(7), true, 2), R::Granted);
  EXPECT_EQ(channel.sent.size(), 3u) << "a new tunnel has none of the old routes";
}

TEST_F(RequestClient, BrokenConversationsPauseTheClient) {
  struct Case {
    const char* what;
    int reply;
  } cases[] = {{"garbage byte", 7}, {"server closed", IRouteRequestChannel::kClosed}, {"silent", CScriptedChannel::kHeld}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CScriptedChannel ch;
    Tick t = 100;
    CRouteRequestClient cl(ch, [&] { return t; }, 700);
    ch.script = {c.reply};
    ch.onWait = [&](int ms) { t += static_cast<Tick>(ms); };  // the wait took its full time
    EXPECT_EQ(cl.Request(Address(7), true, 1), R::Failed);
    EXPECT_EQ(ch.closes, 1);
    for (int w : ch.waits) EXPECT_LE(w, 700);
    // Nothing is asked while paused; afterwards a fresh connection.
    t += CRouteRequestClient::kPauseAfterFailureMs - 701;
    EXPECT_EQ(cl.Request(Address(8), true, 1), R::Skipped);
    EXPECT_EQ(ch.sent.size(), 1u);
    t += 701;
    EXPECT_EQ(cl.Request(Address(8), true, 1), R::Granted);
    EXPECT_EQ(ch.opens, 2);
  }
}

TEST_F(RequestClient, NoServerMeansSkippedWithoutRetryingEveryCall) {
  channel.serverThere = false;
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Skipped);
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Skipped);
  EXPECT_EQ(channel.opens, 1);
  channel.serverThere = true;
  now += CRouteRequestClient::kPauseAfterFailureMs;
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Granted);
}

TEST_F(RequestClient, AsynchronousRequestsAreAnsweredInOrderLater) {
  channel.script = {CScriptedChannel::kHeld, 0, 1};
  EXPECT_EQ(client.Request(Address(1), false, 1), R::Sent);
  EXPECT_EQ(client.Request(Address(2), false, 1), R::Sent);
  channel.releaseHeld = true;
  // The synchronous one reads the two earlier replies first.
  EXPECT_EQ(client.Request(Address(3), true, 1), R::Granted);
  EXPECT_EQ(client.Request(Address(1), true, 1), R::Granted);
  EXPECT_EQ(client.Request(Address(2), true, 1), R::Refused);
  EXPECT_EQ(channel.sent.size(), 3u);
}

TEST_F(RequestClient, ASilentServerCannotPileUpAsynchronousRequests) {
  for (std::size_t i = 0; i < CRouteRequestClient::kMaxUnanswered * 2; ++i) channel.script.push_back(CScriptedChannel::kHeld);
  channel.onWait = [&](int ms) { now += static_cast<Tick>(ms); };
  CRouteRequestClient::Result last = R::Sent;
  std::size_t i = 0;
  for (; i < CRouteRequestClient::kMaxUnanswered * 2 && last == R::Sent; ++i)
    last = client.Request(Address(static_cast<unsigned char>(i)), false, 1);
  EXPECT_EQ(last, R::Failed);
  EXPECT_EQ(i, CRouteRequestClient::kMaxUnanswered);
}

TEST_F(RequestClient, AForkedChildOpensItsOwnConnection) {
  EXPECT_EQ(client.Request(Address(7), true, 1), R::Granted);
  client.BeforeFork();
  client.AfterForkInChild();
  EXPECT_EQ(channel.closes, 1);
  EXPECT_EQ(client.Request(Address(8), true, 1), R::Granted);
  EXPECT_EQ(channel.opens, 2);
  client.BeforeFork();
  client.AfterForkInParent();
  EXPECT_EQ(client.Request(Address(9), true, 1), R::Granted);
  EXPECT_EQ(channel.opens, 2);
}

}  // namespace
