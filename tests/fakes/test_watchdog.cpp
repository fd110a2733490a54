// A test that hangs would hold its whole layer until ctest's limit and
// leave no word of which test it was. This ends the run after a generous
// limit per test (QUILLNET_TEST_LIMIT_S, default 300 s; 0 turns it off),
// naming the test.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace {

// Outlives every static destructor: the watching thread may still wait on
// it while the process exits, so it is never destroyed.
struct WatchState {
  std::chrono::seconds limit{300};
  std::mutex mutex;
  std::condition_variable wake;
  std::string name;
  std::chrono::steady_clock::time_point deadline{};
  unsigned long long generation = 0;
};

void Watch(WatchState* s) {
  std::unique_lock<std::mutex> lock(s->mutex);
  for (;;) {
    if (s->name.empty()) {
      s->wake.wait(lock);
      continue;
    }
    const unsigned long long seen = s->generation;
    if (s->wake.wait_until(lock, s->deadline, [&] { return s->generation != seen; })) continue;
    std::fprintf(stderr, "\n[ WATCHDOG ] %s has run for %lld s; ending the run\n", s->name.c_str(),
                 static_cast<long long>(s->limit.count()));
    std::fflush(stderr);
    std::_Exit(124);
  }
}

class CTestWatchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit CTestWatchdog(WatchState* state) : s_(state) {}
  void OnTestStart(const ::testing::TestInfo& info) override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->name = std::string(info.test_suite_name()) + "." + info.name();
    s_->deadline = std::chrono::steady_clock::now() + s_->limit;
    ++s_->generation;
    s_->wake.notify_all();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->name.clear();
    ++s_->generation;
    s_->wake.notify_all();
  }

 private:
  WatchState* s_;
};

WatchState* const g_watch = [] () -> WatchState* {
  const char* text = std::getenv("QUILLNET_TEST_LIMIT_S");
  const int limit = text ? std::atoi(text) : 300;
  if (limit <= 0) return nullptr;
  auto* state = new WatchState;
  state->limit = std::chrono::seconds(limit);
  std::thread(Watch, state).detach();
  ::testing::UnitTest::GetInstance()->listeners().Append(new CTestWatchdog(state));
  return state;
}();

}  // namespace
