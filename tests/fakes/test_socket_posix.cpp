#include "fakes/test_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace {

bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  int rc;
  do rc = poll(&p, 1, timeoutMs);
  while (rc < 0 && errno == EINTR);
  return rc > 0;
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
  // TLS writes to a peer that has gone must fail, not end the test program.
  static const bool ignored = signal(SIGPIPE, SIG_IGN) != SIG_ERR;
  (void)ignored;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoTestSocket;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(fd);
    return kNoTestSocket;
  }
  port = ntohs(a.sin_port);
  return fd;
}

TestSocket TestAccept(TestSocket listener, int timeoutMs) {
  if (!WaitReadable(static_cast<int>(listener), timeoutMs)) return kNoTestSocket;
  const int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? kNoTestSocket : fd;
}

TestSocket TestConnectLoopback(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoTestSocket;
  sockaddr_in a = Loopback(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return kNoTestSocket;
  }
  return fd;
}

int TestReceive(TestSocket s, char* buffer, int size, int timeoutMs) {
  if (!WaitReadable(static_cast<int>(s), timeoutMs)) return -2;
  const ssize_t n = recv(static_cast<int>(s), buffer, static_cast<std::size_t>(size), 0);
  return n < 0 ? -1 : static_cast<int>(n);
}

bool TestWaitReadable(TestSocket s, int timeoutMs) { return WaitReadable(static_cast<int>(s), timeoutMs); }

bool TestSendAll(TestSocket s, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void TestCloseSocket(TestSocket s) {
  if (s != kNoTestSocket) close(static_cast<int>(s));
}
