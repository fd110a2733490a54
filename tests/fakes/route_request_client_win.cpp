#include "fakes/route_request_client.h"

#include "platform/win32.h"

namespace {
HANDLE Pipe(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

CRouteRequestClient::CRouteRequestClient(const std::wstring& endpoint, unsigned patienceMs) {
  const DWORD start = GetTickCount();
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (;;) {
    pipe = CreateFileW(endpoint.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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

CRouteRequestClient::~CRouteRequestClient() { Close(); }

void CRouteRequestClient::Close() {
  if (handle_ != kNone) CloseHandle(Pipe(handle_));
  handle_ = kNone;
}

bool CRouteRequestClient::Send(const std::vector<unsigned char>& bytes) {
  DWORD written = 0;
  return handle_ != kNone &&
         WriteFile(Pipe(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

int CRouteRequestClient::Reply(int timeoutMs) {
  if (handle_ == kNone) return -1;
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(Pipe(handle_), nullptr, 0, nullptr, &available, nullptr)) return -1;
    if (available > 0) break;
    if (GetTickCount() - start >= static_cast<DWORD>(timeoutMs)) return -2;
    Sleep(1);
  }
  unsigned char b = 0;
  DWORD read = 0;
  return ReadFile(Pipe(handle_), &b, 1, &read, nullptr) && read == 1 ? b : -1;
}

RouteRequestTransport PlatformRouteRequestTransport() { return {"NamedPipe", false}; }

std::wstring FreshRouteRequestEndpoint() {
  static int counter = 0;
  return L"\\\\.\\pipe\\qr-route-request-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(counter++);
}
