#include "accel/route_request_client.h"
#include "accel/route_request_pipe_server.h"
#include "platform/strings.h"
#include "platform/win32.h"

namespace {

constexpr DWORD kBusyWaitMs = 250;

// The pipe in message mode with overlapped reads, so a reply wait has an end.
class CPipeChannel : public IRouteRequestChannel {
 public:
  explicit CPipeChannel(std::wstring name) : name_(std::move(name)) {
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  ~CPipeChannel() override {
    Close();
    if (event_) CloseHandle(event_);
    if (writeEvent_) CloseHandle(writeEvent_);
  }

  bool Open() override {
    Close();
    if (!event_ || !writeEvent_) return false;
    // The server makes its next listening instance only after a client took
    // the last one: a busy pipe is waited for briefly, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
      pipe_ = CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
      if (pipe_ != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
      if (!WaitNamedPipeW(name_.c_str(), kBusyWaitMs)) break;
    }
    if (pipe_ == INVALID_HANDLE_VALUE) return false;
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr)) {
      Close();
      return false;
    }
    return true;
  }

  void Close() override {
    if (pipe_ != INVALID_HANDLE_VALUE) {
      if (reading_) {
        // The read may have been started by another thread: cancel it by
        // handle and let it finish before its record is reused.
        CancelIoEx(pipe_, &overlap_);
        DWORD got = 0;
        GetOverlappedResult(pipe_, &overlap_, &got, TRUE);
      }
      CloseHandle(pipe_);
    }
    pipe_ = INVALID_HANDLE_VALUE;
    reading_ = false;
  }

  bool Send(const unsigned char* bytes, std::size_t length) override {
    // A read may be pending meanwhile: the pipe is duplex.
    if (pipe_ == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED o{};
    o.hEvent = writeEvent_;
    ResetEvent(writeEvent_);
    DWORD written = 0;
    if (!WriteFile(pipe_, bytes, static_cast<DWORD>(length), &written, &o)) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      // Writes of five bytes into a 4096-byte buffer finish at once; a
      // pending one means the server stopped reading.
      if (WaitForSingleObject(writeEvent_, 1000) != WAIT_OBJECT_0) {
        CancelIoEx(pipe_, &o);
        GetOverlappedResult(pipe_, &o, &written, TRUE);
        return false;
      }
      if (!GetOverlappedResult(pipe_, &o, &written, FALSE)) return false;
    }
    return written == length;
  }

  int Receive(int timeoutMs) override {
    if (pipe_ == INVALID_HANDLE_VALUE) return kClosed;
    if (!reading_) {
      overlap_ = OVERLAPPED{};
      overlap_.hEvent = event_;
      ResetEvent(event_);
      DWORD got = 0;
      if (ReadFile(pipe_, &byte_, 1, &got, &overlap_)) return got == 1 ? byte_ : kClosed;
      // A longer message is garbage.
      if (GetLastError() != ERROR_IO_PENDING) return kClosed;
      reading_ = true;
    }
    // A read stays pending across calls, so a reply that comes late is
    // still read as one message.
    if (WaitForSingleObject(event_, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return kTimedOut;
    reading_ = false;
    DWORD got = 0;
    if (!GetOverlappedResult(pipe_, &overlap_, &got, FALSE)) return kClosed;
    return got == 1 ? byte_ : kClosed;
  }

 private:
  std::wstring name_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  HANDLE writeEvent_ = nullptr;
  OVERLAPPED overlap_{};
  unsigned char byte_ = 0;
  bool reading_ = false;
};

}  // namespace

std::unique_ptr<IRouteRequestChannel> CreateRouteRequestChannel(const std::string& endpoint) {
  return std::make_unique<CPipeChannel>(endpoint.empty() ? std::wstring(kRouteRequestPipeName) : NarrowToWide(endpoint));
}
