#include "vpn/console_redirector.h"

#include <chrono>
#include <cstring>

#include "platform/strings.h"
#include "vpn/console_child.h"

CConsoleRedirector::CConsoleRedirector() : child_(std::make_unique<CConsoleChild>()) {}

CConsoleRedirector::~CConsoleRedirector() { StopChild(); }

bool CConsoleRedirector::StartChild(const std::wstring& commandLine) {
  StopChild();
  std::lock_guard<std::mutex> control(controlLock_);
  if (!child_->Start(commandLine)) return false;
  {
    std::lock_guard<std::mutex> lock(idleLock_);
    readerActive_ = true;
  }
  try {
    reader_ = std::thread(&CConsoleRedirector::ReaderMain, this);
  } catch (...) {
    child_->Terminate();
    child_->Close();
    std::lock_guard<std::mutex> lock(idleLock_);
    readerActive_ = false;
    return false;
  }
  return true;
}

void CConsoleRedirector::StopChild() {
  const bool onReader = readerId_.load() == std::this_thread::get_id();
  std::thread reader;
  {
    std::lock_guard<std::mutex> control(controlLock_);
    reader = std::move(reader_);
  }
  if (reader.joinable()) {
    child_->Terminate();
    if (onReader) {
      reader.detach();
    } else {
      reader.join();
    }
    child_->Close();
  }
  if (onReader) return;
  // The reader may have stopped itself after the child ended and still be
  // inside OnChildExit; the caller must not go on (or free us) before it left.
  std::unique_lock<std::mutex> lock(idleLock_);
  idle_.wait(lock, [this] { return !readerActive_; });
}

bool CConsoleRedirector::IsRunning() const {
  std::lock_guard<std::mutex> control(controlLock_);
  return reader_.joinable();
}

bool CConsoleRedirector::InterruptChild() {
  std::lock_guard<std::mutex> control(controlLock_);
  return reader_.joinable() && child_->Interrupt();
}

bool CConsoleRedirector::WaitReaderIdle(unsigned milliseconds) {
  std::unique_lock<std::mutex> lock(idleLock_);
  return idle_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return !readerActive_; });
}

void CConsoleRedirector::ReaderMain() {
  readerId_ = std::this_thread::get_id();
  for (;;) {
    if (!Drain()) break;
    if (child_->Wait(pollInterval) != CConsoleChild::WaitResult::Timeout) break;
  }
  Drain();  // the child's last words
  StopChild();
  OnChildExit();
  readerId_ = std::thread::id();
  std::lock_guard<std::mutex> lock(idleLock_);
  readerActive_ = false;
  idle_.notify_all();
}

bool CConsoleRedirector::Drain() {
  char buffer[kReadChunk];
  for (;;) {
    const long available = child_->Available();
    if (available < 0) return false;
    if (available == 0) return true;
    const long got = child_->Read(buffer, std::min<std::size_t>(static_cast<std::size_t>(available), sizeof buffer));
    if (got <= 0) return false;
    OnOutput(buffer, static_cast<std::size_t>(got));
  }
}

void CConsoleRedirector::OnOutput(const char*, std::size_t) {}
void CConsoleRedirector::OnChildExit() {}

void CConsoleRedirector::AppendOutput(const char* bytes, std::size_t count) {
  std::lock_guard<std::mutex> lock(bufferLock_);
  if (count >= kMaxBufferedOutput) {
    outputBuffer_.assign(bytes + (count - kMaxBufferedOutput), kMaxBufferedOutput);
    return;
  }
  const std::size_t total = outputBuffer_.size() + count;
  if (total > kMaxBufferedOutput) outputBuffer_.erase(0, total - kMaxBufferedOutput);
  outputBuffer_.append(bytes, count);
}

void CConsoleRedirector::ClearOutput() {
  std::lock_guard<std::mutex> lock(bufferLock_);
  outputBuffer_.clear();
}

std::string CConsoleRedirector::GetOutput() const {
  std::lock_guard<std::mutex> lock(bufferLock_);
  return outputBuffer_;
}

std::string CConsoleRedirector::TakeOutput() {
  std::lock_guard<std::mutex> lock(bufferLock_);
  std::string out;
  out.swap(outputBuffer_);
  return out;
}

bool CConsoleRedirector::OutputEndsWith(std::string_view text) const {
  std::lock_guard<std::mutex> lock(bufferLock_);
  return outputBuffer_.size() >= text.size() &&
         std::string_view(outputBuffer_).substr(outputBuffer_.size() - text.size()) == text;
}

bool CConsoleRedirector::ConsumeOutputThrough(std::string_view text) {
  std::lock_guard<std::mutex> lock(bufferLock_);
  // Like a C-string search: bytes after the first NUL are not looked at.
  const std::string_view searchable(outputBuffer_.c_str(), std::strlen(outputBuffer_.c_str()));
  const std::size_t at = searchable.find(text);
  if (at == std::string_view::npos) return false;
  outputBuffer_.erase(0, at + text.size());
  return true;
}

void CConsoleRedirector::WriteInput(const std::wstring& text) {
  // Emptied before the write, not after: from another thread than the
  // reader, the child's answer may otherwise arrive in between and be lost.
  ClearOutput();
  std::lock_guard<std::mutex> control(controlLock_);
  if (reader_.joinable()) child_->Write(WideToNarrow(text));
}

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
  std::vector<std::wstring> args;
  std::size_t i = 0;
  const auto blank = [&](std::size_t k) { return line[k] == L' ' || line[k] == L'\t'; };
  while (i < line.size() && blank(i)) ++i;
  if (i == line.size()) return args;
  // The program name: no escapes, a quote runs to the next quote.
  std::wstring program;
  if (line[i] == L'"') {
    const std::size_t end = line.find(L'"', i + 1);
    program = line.substr(i + 1, (end == std::wstring_view::npos ? line.size() : end) - i - 1);
    i = end == std::wstring_view::npos ? line.size() : end + 1;
  } else {
    while (i < line.size() && !blank(i)) program.push_back(line[i++]);
  }
  args.push_back(program);
  for (;;) {
    while (i < line.size() && blank(i)) ++i;
    if (i >= line.size()) break;
    std::wstring arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !blank(i))) {
      if (line[i] == L'\\') {
        std::size_t n = 0;
        while (i < line.size() && line[i] == L'\\') ++n, ++i;
        if (i < line.size() && line[i] == L'"') {
          arg.append(n / 2, L'\\');
          if (n % 2) {
            arg.push_back(L'"');
            ++i;
          }
        } else {
          arg.append(n, L'\\');
        }
      } else if (line[i] == L'"') {
        // A doubled quote inside quotes is a literal quote.
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          arg.push_back(L'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg.push_back(line[i++]);
      }
    }
    args.push_back(arg);
  }
  return args;
}

std::wstring QuoteArgument(std::wstring_view arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring_view::npos) return std::wstring(arg);
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') {
      out.append(slashes * 2 + 1, L'\\');
    } else {
      out.append(slashes, L'\\');
    }
    slashes = 0;
    out.push_back(c);
  }
  out.append(slashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}
