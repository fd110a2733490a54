#include "vpn/console_redirector.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace std::chrono_literals;

std::wstring ChildCommand(const std::wstring& args) {
  std::string path = QUILLNET_CONSOLE_CHILD;
#ifdef _WIN32
  // Wine starts programs by their Windows path.
  for (char& c : path)
    if (c == '/') c = '\\';
  path = "Z:" + path;
#endif
  return QuoteArgument(std::wstring(path.begin(), path.end())) + L" " + args;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return done();
}

class CRecorder : public CConsoleRedirector {
 public:
  ~CRecorder() override { StopChild(); }
  std::vector<std::size_t> Chunks() {
    std::lock_guard<std::mutex> lock(m_);
    return chunks_;
  }
  std::atomic<int> exits{0};

 protected:
  void OnOutput(const char* bytes, std::size_t count) override {
    {
      std::lock_guard<std::mutex> lock(m_);
      chunks_.push_back(count);
    }
    AppendOutput(bytes, count);
  }
  void OnChildExit() override { ++exits; }

 private:
  std::mutex m_;
  std::vector<std::size_t> chunks_;
};

TEST(ConsoleBuffer, SearchAndTrim) {
  struct Case {
    const char* name;
    std::string buffer, text;
    bool consumed;
    std::string after;
  } cases[] = {
      {"first occurrence", "AxByBz", "B", true, "yBz"},
      {"absent", "AxByBz", "Q", false, "AxByBz"},
      {"whole buffer", "PUSH_REPLY", "PUSH_REPLY", true, ""},
      {"after a NUL is not searched", std::string("ab\0cd", 5), "cd", false, std::string("ab\0cd", 5)},
      {"case matters", "Completed", "completed", false, "Completed"},
  };
  for (const Case& c : cases) {
    CConsoleRedirector r;
    r.AppendOutput(c.buffer.data(), c.buffer.size());
    EXPECT_EQ(r.ConsumeOutputThrough(c.text), c.consumed) << c.name;
    EXPECT_EQ(r.GetOutput(), c.after) << c.name;
  }
}

TEST(ConsoleBuffer, EndsWithTakeAndCap) {
  CConsoleRedirector r;
  r.AppendOutput("Enter Auth Username:", 20);
  EXPECT_TRUE(r.OutputEndsWith("Username:"));
  EXPECT_TRUE(r.OutputEndsWith("Enter Auth Username:"));
  EXPECT_FALSE(r.OutputEndsWith("xEnter Auth Username:"));
  EXPECT_FALSE(r.OutputEndsWith("Username"));
  EXPECT_EQ(r.TakeOutput(), "Enter Auth Username:");
  EXPECT_EQ(r.GetOutput(), "");
  // A flood keeps only the newest bytes.
  const std::string chunk(4096, 'x');
  for (std::size_t i = 0; i < CConsoleRedirector::kMaxBufferedOutput / 4096 + 10; ++i)
    r.AppendOutput(chunk.data(), chunk.size());
  r.AppendOutput("tail", 4);
  EXPECT_EQ(r.GetOutput().size(), CConsoleRedirector::kMaxBufferedOutput);
  EXPECT_TRUE(r.OutputEndsWith("xtail"));
  // WriteInput without a child writes nothing but still empties the buffer.
  r.WriteInput(L"ignored");
  EXPECT_EQ(r.GetOutput(), "");
}

TEST(CommandLine, SplitsLikeTheWindowsRuntime) {
  struct Case {
    std::wstring line;
    std::vector<std::wstring> args;
  } cases[] = {
      {L"prog a b", {L"prog", L"a", L"b"}},
      {L"  \"C:\\Program Files\\x\\openvpn.exe\" --config  \"a b\"",
       {L"C:\\Program Files\\x\\openvpn.exe", L"--config", L"a b"}},
      {L"C:\\dir\\prog.exe \"C:\\path with\\\" x", {L"C:\\dir\\prog.exe", L"C:\\path with\" x"}},
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
      {L"p a\\\\b", {L"p", L"a\\\\b"}},
      {L"p \"\"", {L"p", L""}},
      {L"p \"say \"\"hi\"\"\"", {L"p", L"say \"hi\""}},
      {L"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << c.line;
  for (const std::wstring arg : {L"plain", L"with space", L"quote\"in", L"trail\\", L"\\\\server\\share x", L""}) {
    EXPECT_EQ(SplitCommandLine(L"p " + QuoteArgument(arg)), (std::vector<std::wstring>{L"p", arg})) << arg;
  }
}

TEST(ConsoleRedirector, AnswersAPromptWithoutLineEnd) {
  CRecorder r;
  ASSERT_TRUE(r.StartChild(ChildCommand(L"prompt \"Enter Auth Username:\"")));
  ASSERT_TRUE(WaitUntil([&] { return r.OutputEndsWith("Enter Auth Username:"); })) << r.GetOutput();
  r.WriteInput(L"alice\n");
  ASSERT_TRUE(WaitUntil([&] { return r.GetOutput().find("got [alice]") != std::string::npos; })) << r.GetOutput();
  ASSERT_TRUE(WaitUntil([&] { return r.exits == 1 && !r.IsRunning(); }));
}

TEST(ConsoleRedirector, DeliversABurstInOrderInBoundedChunks) {
  CRecorder r;
  ASSERT_TRUE(r.StartChild(ChildCommand(L"burst 10000")));
  ASSERT_TRUE(WaitUntil([&] { return r.exits == 1; }));
  std::string expected;
  for (int i = 0; i < 10000; ++i) expected.push_back(static_cast<char>('a' + i % 26));
  EXPECT_EQ(r.GetOutput(), expected);
  std::size_t total = 0;
  for (std::size_t c : r.Chunks()) {
    EXPECT_GE(c, 1u);
    EXPECT_LE(c, CConsoleRedirector::kReadChunk);
    total += c;
  }
  EXPECT_EQ(total, 10000u);
}

TEST(ConsoleRedirector, StandardErrorInterleaves) {
  CRecorder r;
  ASSERT_TRUE(r.StartChild(ChildCommand(L"interleave 6")));
  ASSERT_TRUE(WaitUntil([&] { return r.exits == 1; }));
  std::string out = r.GetOutput();
  std::erase(out, '\r');  // the Windows runtime writes text-mode line ends
  EXPECT_EQ(out, "out 0\nerr 1\nout 2\nerr 3\nout 4\nerr 5\n");
}

TEST(ConsoleRedirector, MissingProgramLeavesNothingRunning) {
  CRecorder r;
  EXPECT_FALSE(r.StartChild(L"quillnet-no-such-program-here --version"));
  EXPECT_FALSE(r.IsRunning());
  EXPECT_EQ(r.exits, 0);
}

TEST(ConsoleRedirector, StopFromAnotherThreadWhileTheChildIgnoresUs) {
  CRecorder r;
  ASSERT_TRUE(r.StartChild(ChildCommand(L"silent")));
  r.WriteInput(L"nobody reads this\n");
  std::this_thread::sleep_for(150ms);
  EXPECT_TRUE(r.IsRunning());
  std::thread stopper([&] { r.StopChild(); });
  stopper.join();
  EXPECT_FALSE(r.IsRunning());
  EXPECT_EQ(r.exits, 1);
  r.StopChild();  // a second stop does nothing
  EXPECT_EQ(r.exits, 1);
  // The object can run another child; the old buffer stays until cleared.
  r.AppendOutput("old", 3);
  ASSERT_TRUE(r.StartChild(ChildCommand(L"exit 0")));
  ASSERT_TRUE(WaitUntil([&] { return r.exits == 2; }));
  EXPECT_EQ(r.GetOutput().rfind("old", 0), 0u);
}

#ifndef _WIN32
// openvpn prints its password prompt and then flushes the terminal's input;
// an answer that came in between was lost and the connection hung.
TEST(ConsoleRedirector, AnAnswerTheChildFlushedAwayIsWrittenAgain) {
  CRecorder r;
  ASSERT_TRUE(r.StartChild(ChildCommand(L"flushprompt \"Enter Auth Password:\"")));
  ASSERT_TRUE(WaitUntil([&] { return r.OutputEndsWith("Enter Auth Password:"); })) << r.GetOutput();
  r.WriteInput(L"secret\n");
  EXPECT_TRUE(WaitUntil([&] { return r.GetOutput().find("got [secret]") != std::string::npos; }, 20s))
      << r.GetOutput();
}
#endif

// A write into a child that stops reading waits for room; it must not keep
// StopChild (and so a connection's Stop) from ending the child.
TEST(ConsoleRedirector, StopWhileAWriteWaitsForTheChild) {
  CRecorder r;
  ASSERT_TRUE(r.StartChild(ChildCommand(L"silent")));
  std::atomic<bool> writing{false}, written{false};
  std::thread writer([&] {
    writing = true;
    std::wstring lines;  // far more than the channel holds
    for (int i = 0; i < 65536; ++i) lines += L"a line nobody reads\n";
    r.WriteInput(lines);
    written = true;
  });
  ASSERT_TRUE(WaitUntil([&] { return writing.load(); }));
  std::this_thread::sleep_for(200ms);  // let it get stuck; the checks below hold either way
  std::promise<void> stopped;
  std::thread stopper([&] {
    r.StopChild();
    stopped.set_value();
  });
  if (stopped.get_future().wait_for(60s) != std::future_status::ready) {
    std::fprintf(stderr, "StopChild did not return while a write was waiting\n");
    std::_Exit(1);
  }
  stopper.join();
  writer.join();
  EXPECT_TRUE(written);
  EXPECT_FALSE(r.IsRunning());
  EXPECT_EQ(r.exits, 1);
}

TEST(ConsoleRedirector, SimpleRedirectorCollectsEverything) {
  CCConsoleRedirectorSimple r;
  ASSERT_TRUE(r.StartChild(ChildCommand(L"burst 5000")));
  ASSERT_TRUE(WaitUntil([&] { return !r.IsRunning(); }));
  EXPECT_EQ(r.GetOutput().size(), 5000u);
}

TEST(ConsoleRedirector, TheChildInheritsOnlyItsTerminal) {
  // Inheritable, as a careless library (or the C runtime) makes them.
  int fds[2];
#ifdef _WIN32
  ASSERT_EQ(_pipe(fds, 256, _O_BINARY), 0);
  wchar_t args[64];
  std::swprintf(args, 64, L"handles %llx %llx", static_cast<unsigned long long>(_get_osfhandle(fds[0])),
                static_cast<unsigned long long>(_get_osfhandle(fds[1])));
  const std::string expected = "closed closed";
#else
  ASSERT_EQ(pipe(fds), 0);
  const wchar_t* args = L"handles";
  const std::string expected = "fds 0 1 2";
#endif
  CCConsoleRedirectorSimple r;
  ASSERT_TRUE(r.StartChild(ChildCommand(args)));
  ASSERT_TRUE(WaitUntil([&] { return !r.IsRunning(); }, 30s));
  std::string said = r.GetOutput();
  while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
  EXPECT_EQ(said, expected);
  close(fds[0]);
  close(fds[1]);
}

TEST(ConsoleRedirector, DestroyedWhileRunning) {
  auto r = std::make_unique<CRecorder>();
  ASSERT_TRUE(r->StartChild(ChildCommand(L"silent")));
  r.reset();  // must stop the child and its reader without touching freed memory
}

}  // namespace
