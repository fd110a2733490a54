#include "fakes/test_socket.h"

#include "platform/win32.h"

#include <cstddef>

namespace {

bool Startup() {
  static const bool ok = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

bool WaitReadable(SOCKET s, int timeoutMs) {
  WSAPOLLFD p{};
  p.fd = s;
  p.events = POLLRDNORM;
  return WSAPoll(&p, 1, timeoutMs) > 0;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

}  // namespace

TestSocket TestListenLoopback(int backlog, std::uint16_t& port) {
  if (!Startup()) return kNoTestSocket;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoTestSocket;
  sockaddr_in a = Loopback(0);
  int len = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    closesocket(s);
    return kNoTestSocket;
  }
  port = ntohs(a.sin_port);
  return static_cast<TestSocket>(s);
}

TestSocket TestAccept(TestSocket listener, int timeoutMs) {
  if (!WaitReadable(static_cast<SOCKET>(listener), timeoutMs)) return kNoTestSocket;
  SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kNoTestSocket : static_cast<TestSocket>(s);
}

TestSocket TestConnectLoopback(std::uint16_t port) {
  if (!Startup()) return kNoTestSocket;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoTestSocket;
  sockaddr_in a = Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s);
    return kNoTestSocket;
  }
  return static_cast<TestSocket>(s);
}

int TestReceive(TestSocket s, char* buffer, int size, int timeoutMs) {
  if (!WaitReadable(static_cast<SOCKET>(s), timeoutMs)) return -2;
  const int n = recv(static_cast<SOCKET>(s), buffer, size, 0);
  return n < 0 ? -1 : n;
}

bool TestWaitReadable(TestSocket s, int timeoutMs) { return WaitReadable(static_cast<SOCKET>(s), timeoutMs); }

bool TestSendAll(TestSocket s, const char* data, std::size_t size) {
  while (size > 0) {
    const int n = send(static_cast<SOCKET>(s), data, static_cast<int>(size), 0);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void TestCloseSocket(TestSocket s) {
  if (s != kNoTestSocket) closesocket(static_cast<SOCKET>(s));
}
