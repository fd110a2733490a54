#include "platform/win32.h"

#include <atomic>

#include "servers/speed_probe.h"
#include "platform/text_parse.h"

namespace {


SOCKET AsSocket(std::intptr_t s) { return static_cast<SOCKET>(s); }

std::intptr_t OpenSocket(int type, int protocol) {
  const SOCKET s = socket(AF_INET, type, protocol);
  if (s == INVALID_SOCKET) return -1;
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    closesocket(s);
    return -1;
  }
  return static_cast<std::intptr_t>(s);
}


bool StartSocketLibrary() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

}  // namespace

// The performance counter: finer than the tick count, and unlike the
// multimedia timer it needs no library of its own loaded at start.
Tick ProbeClockMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f{};
    return ::QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1000;
  }();
  LARGE_INTEGER now{};
  ::QueryPerformanceCounter(&now);
  return static_cast<Tick>(now.QuadPart / frequency * 1000 + now.QuadPart % frequency * 1000 / frequency);
}

void CSocketPingBase::CloseSocket() {
  if (socket_ != -1) closesocket(AsSocket(socket_));
  socket_ = -1;
  if (socketLibrary_) WSACleanup();
  socketLibrary_ = false;
}

void CSocketPingBase::Wait(int timeoutMs, bool& readable, bool& exceptional) {
  readable = exceptional = false;
  if (timeoutMs < 0) timeoutMs = 0;
  if (socket_ != -1) {
    fd_set readSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&exceptSet);
    FD_SET(AsSocket(socket_), &readSet);
    FD_SET(AsSocket(socket_), &exceptSet);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, &readSet, nullptr, &exceptSet, &tv) != SOCKET_ERROR) {
      readable = FD_ISSET(AsSocket(socket_), &readSet) != 0;
      exceptional = FD_ISSET(AsSocket(socket_), &exceptSet) != 0;
      return;
    }
  }
  if (timeoutMs > 0) Sleep(static_cast<DWORD>(timeoutMs));
}

int CSocketPingBase::ReadDatagram(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& fromNetworkOrder) {
  if (socket_ == -1) return -1;
  u_long waiting = 0;
  const bool asked = ioctlsocket(AsSocket(socket_), FIONREAD, &waiting) == 0;
  sockaddr_in from{};
  int fromLength = sizeof from;
  // Also taken when nothing is said to be waiting: an empty datagram or a
  // reported error (an earlier port-unreachable) would otherwise keep the
  // socket readable and the worker spinning.
  const int n = recvfrom(AsSocket(socket_), reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                         reinterpret_cast<sockaddr*>(&from), &fromLength);
  if ((asked && waiting == 0) || n <= 0) return -1;
  fromNetworkOrder = from.sin_addr.s_addr;
  return n;
}

int CSocketPing_ICMP::Open() {
  socketLibrary_ = StartSocketLibrary();
  datagram_ = false;
  socket_ = OpenSocket(SOCK_RAW, IPPROTO_ICMP);
  return socket_ == -1 ? -1 : 0;
}

int CSocketPing_UDP::Open() {
  socketLibrary_ = StartSocketLibrary();
  const std::intptr_t s = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
  if (s == -1) return -1;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  if (bind(AsSocket(s), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    closesocket(AsSocket(s));
    return -1;
  }
  socket_ = s;
  return 0;
}

int CSocketPingBase::SendDatagram(const std::wstring& host, std::uint16_t port, const void* bytes,
                                   std::size_t length) {
  const std::intptr_t s = socket_;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  std::uint32_t address = 0;
  if (s == -1 || !ParseIpv4Strict(host, address)) return -1;
  to.sin_addr.s_addr = address;
  return sendto(AsSocket(s), static_cast<const char*>(bytes), static_cast<int>(length), 0,
                reinterpret_cast<const sockaddr*>(&to), sizeof to);
}
