// A password prompt must be answered only once the child listens for it:
// programs switch their terminal to silent reading after showing the prompt,
// and that switch throws away whatever was typed before it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "vpn/console_redirector.h"

namespace {

using namespace std::chrono_literals;

std::wstring ChildCommand(const std::wstring& args) {
  std::string path = QUILLNET_CONSOLE_CHILD;
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
  path = "Z:" + path;
#endif
  return QuoteArgument(std::wstring(path.begin(), path.end())) + L" " + args;
}

bool WaitForOutput(CConsoleRedirector& r, std::string_view text, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (r.GetOutput().find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

TEST(ConsoleSecretPrompt, AnswerWaitsUntilTheChildListens) {
  CCConsoleRedirectorSimple child;
  ASSERT_TRUE(child.StartChild(ChildCommand(L"secret Password:")));
  ASSERT_TRUE(WaitForOutput(child, "Password:", 10s)) << child.GetOutput();
  EXPECT_TRUE(child.WaitForSecretInput(10000));
  child.WriteInput(L"hunter2\n");
  EXPECT_TRUE(WaitForOutput(child, "got [hunter2]", 10s)) << child.GetOutput();
  child.StopChild();
}

TEST(ConsoleSecretPrompt, NoChildMeansNoWait) {
  CCConsoleRedirectorSimple none;
  EXPECT_FALSE(none.WaitForSecretInput(10000));
}

}  // namespace
