// A test that hangs would hold its whole layer until ctest's limit and
// leave no word of which test it was. This ends the run after a generous
// limit per test (QUILLNET_TEST_LIMIT_S, default 300 s; 0 turns it off),
// naming the test.
//
// On POSIX it is an alarm, not a thread: tests fork, and a process with an
// extra thread at fork time is one ThreadSanitizer refuses to run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

int LimitSeconds() {
  const char* text = std::getenv("QUILLNET_TEST_LIMIT_S");
  return text ? std::atoi(text) : 300;
}

#ifdef _WIN32

// Outlives every static destructor: the watching thread may still wait on
// it while the process exits, so it is never destroyed.
struct WatchState {
  int limit = 300;
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
    std::fprintf(stderr, "\n[ WATCHDOG ] %s has run for %d s; ending the run\n", s->name.c_str(), s->limit);
    std::fflush(stderr);
    std::_Exit(124);
  }
}

class CTestWatchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit CTestWatchdog(int limit) : s_(new WatchState) {
    s_->limit = limit;
    std::thread(Watch, s_).detach();
  }
  void OnTestStart(const ::testing::TestInfo& info) override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->name = std::string(info.test_suite_name()) + "." + info.name();
    s_->deadline = std::chrono::steady_clock::now() + std::chrono::seconds(s_->limit);
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
  WatchState* s_;  // never freed, see WatchState
};

#else

// Written before the alarm is set, read only by the handler.
char g_message[512];
std::size_t g_messageLength = 0;

void OnAlarm(int) {
  [[maybe_unused]] const ssize_t n = write(2, g_message, g_messageLength);
  _exit(124);
}

class CTestWatchdog : public ::testing::EmptyTestEventListener {
 public:
  explicit CTestWatchdog(int limit) : limit_(limit) {
    struct sigaction action {};
    action.sa_handler = OnAlarm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
  }
  void OnTestStart(const ::testing::TestInfo& info) override {
    const int n = std::snprintf(g_message, sizeof g_message, "\n[ WATCHDOG ] %s.%s has run for %d s; ending the run\n",
                                info.test_suite_name(), info.name(), limit_);
    g_messageLength = n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof g_message - 1);
    alarm(static_cast<unsigned>(limit_));
  }
  void OnTestEnd(const ::testing::TestInfo&) override { alarm(0); }

 private:
  int limit_;
};

#endif

// Static registration: every test program links the fakes.
const bool g_registered = [] {
  const int limit = LimitSeconds();
  if (limit <= 0) return false;
  ::testing::UnitTest::GetInstance()->listeners().Append(new CTestWatchdog(limit));
  return true;
}();

}  // namespace
