#include "fakes/route_request_client.h"

#include "platform/win32.h"

namespace {

HANDLE Pipe(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// One overlapped transfer, waited for at most `timeoutMs`; false on failure
// or timeout (then cancelled), with the bytes moved in `done`.
bool Transfer(HANDLE pipe, bool write, void* buffer, DWORD size, DWORD timeoutMs, DWORD& done, bool& timedOut) {
  OVERLAPPED o{};
  o.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!o.hEvent) return false;
  done = 0;
  timedOut = false;
  BOOL ok = write ? WriteFile(pipe, buffer, size, nullptr, &o) : ReadFile(pipe, buffer, size, nullptr, &o);
  if (!ok && GetLastError() == ERROR_IO_PENDING) {
    if (WaitForSingleObject(o.hEvent, timeoutMs) != WAIT_OBJECT_0) {
      timedOut = true;
      CancelIo(pipe);
    }
    ok = GetOverlappedResult(pipe, &o, &done, TRUE);
  } else if (ok) {
    ok = GetOverlappedResult(pipe, &o, &done, TRUE);
  }
  CloseHandle(o.hEvent);
  return ok && !timedOut;
}

}  // namespace

CTestRouteClient::CTestRouteClient(const std::wstring& endpoint, unsigned patienceMs) {
  const DWORD start = GetTickCount();
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (;;) {
    pipe = CreateFileW(endpoint.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    lastError_ = GetLastError();
    if (GetTickCount() - start >= patienceMs) return;
    if (lastError_ == ERROR_PIPE_BUSY) WaitNamedPipeW(endpoint.c_str(), 50);
    else Sleep(10);
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  handle_ = reinterpret_cast<std::intptr_t>(pipe);
}

CTestRouteClient::~CTestRouteClient() { Close(); }

void CTestRouteClient::Close() {
  if (handle_ != kNone) CloseHandle(Pipe(handle_));
  handle_ = kNone;
}

bool CTestRouteClient::Send(const std::vector<unsigned char>& bytes) {
  if (handle_ == kNone) return false;
  std::vector<unsigned char> copy = bytes;
  DWORD written = 0;
  bool timedOut = false;
  return Transfer(Pipe(handle_), true, copy.data(), static_cast<DWORD>(copy.size()), 5000, written, timedOut) &&
         written == bytes.size();
}

int CTestRouteClient::Reply(int timeoutMs) {
  if (handle_ == kNone) return -1;
  unsigned char b = 0;
  DWORD read = 0;
  bool timedOut = false;
  if (Transfer(Pipe(handle_), false, &b, 1, static_cast<DWORD>(timeoutMs), read, timedOut) && read == 1) return b;
  return timedOut ? -2 : -1;
}

RouteRequestTransport PlatformRouteRequestTransport() { return {"NamedPipe", false}; }

std::wstring FreshRouteRequestEndpoint() {
  static int counter = 0;
  return L"\\\\.\\pipe\\qr-route-request-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++);
}
