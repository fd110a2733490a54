// Runs one console program as a hidden child, feeds its standard input and
// gathers standard output and standard error, in arrival order, into one
// byte buffer that consumers search and trim. Output is never split into
// lines: a prompt waits without a line end.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The platform's half: one child with a pipe (Windows) or pseudo-terminal
// (Linux) carrying its output and input.
class CConsoleChild;

class CConsoleRedirector {
 public:
  CConsoleRedirector();
  virtual ~CConsoleRedirector();
  CConsoleRedirector(const CConsoleRedirector&) = delete;
  CConsoleRedirector& operator=(const CConsoleRedirector&) = delete;

  // The first token of the command line names the program (quoted when it
  // holds blanks). Stops a running child first.
  bool StartChild(const std::wstring& commandLine);
  // Ends the child and the reader thread. Safe when nothing runs, twice, and
  // from the reader thread itself. From any other thread it returns only
  // after the reader thread has delivered its last output and left
  // OnChildExit, so a subclass calls it first thing in its own destructor.
  void StopChild();
  bool IsRunning() const;
  // Asks the child to end by itself where the platform has a way (SIGTERM);
  // false where it has none.
  bool InterruptChild();
  // Waits up to `milliseconds` until no reader thread runs; true when none does.
  bool WaitReaderIdle(unsigned milliseconds);

  void AppendOutput(const char* bytes, std::size_t count);
  void ClearOutput();
  std::string GetOutput() const;
  std::string TakeOutput();
  bool OutputEndsWith(std::string_view text) const;
  bool ConsumeOutputThrough(std::string_view text);
  // Narrow code page, no terminator; then the buffer is emptied.
  void WriteInput(const std::wstring& text);

  std::uint32_t pollInterval = 100;

  // Output nobody consumes is kept up to this many bytes, newest last; older
  // bytes go first. A console program that floods us cannot exhaust memory,
  // and every text the client looks for is far shorter.
  static constexpr std::size_t kMaxBufferedOutput = 1u << 20;
  static constexpr std::size_t kReadChunk = 4096;

 protected:
  // Called on the reader thread with 1 to 4096 bytes at a time.
  virtual void OnOutput(const char* bytes, std::size_t count);
  // Called on the reader thread once the child has ended or was stopped.
  virtual void OnChildExit();

 private:
  void ReaderMain();
  bool Drain();

  mutable std::mutex controlLock_;
  std::thread reader_;
  std::atomic<std::thread::id> readerId_{};
  std::unique_ptr<CConsoleChild> child_;

  mutable std::mutex bufferLock_;
  std::string outputBuffer_;

  std::mutex idleLock_;
  std::condition_variable idle_;
  bool readerActive_ = false;
};

// Only gathers the output, for a caller that reads it after the child ended.
class CCConsoleRedirectorSimple : public CConsoleRedirector {
 public:
  ~CCConsoleRedirectorSimple() override { StopChild(); }

 protected:
  void OnOutput(const char* bytes, std::size_t count) override { AppendOutput(bytes, count); }
};

// Splits a command line into arguments the way the Windows C runtime does:
// the program name ends at the first blank unless quoted; in the other
// arguments quotes group and backslashes escape quotes. Linux uses it to
// turn the one command-line text into an argument vector.
std::vector<std::wstring> SplitCommandLine(std::wstring_view commandLine);

// Quotes one argument so that SplitCommandLine gives it back unchanged.
std::wstring QuoteArgument(std::wstring_view argument);
