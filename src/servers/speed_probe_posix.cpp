#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "servers/speed_probe.h"
#include "platform/text_parse.h"

namespace {

// Process-wide, as the identifiers of one program's echoes should be; only
// the ICMP worker touches them.

bool MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags != -1 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != -1;
}

int OpenSocket(int type, int protocol) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  if (fd == -1) return -1;
  if (!MakeNonBlocking(fd)) {
    close(fd);
    return -1;
  }
  return fd;
}


}  // namespace

Tick ProbeClockMs() { return GetTickMs(); }

void CSocketPingBase::CloseSocket() {
  if (socket_ != -1) close(static_cast<int>(socket_));
  socket_ = -1;
}

void CSocketPingBase::Wait(int timeoutMs, bool& readable, bool& exceptional) {
  readable = exceptional = false;
  if (timeoutMs < 0) timeoutMs = 0;
  if (socket_ != -1) {
    pollfd p{static_cast<int>(socket_), POLLIN | POLLPRI, 0};
    const auto start = std::chrono::steady_clock::now();
    int n;
    do {
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      n = poll(&p, 1, timeoutMs > spent.count() ? timeoutMs - static_cast<int>(spent.count()) : 0);
    } while (n == -1 && errno == EINTR);
    if (n >= 0) {
      readable = (p.revents & POLLIN) != 0;
      exceptional = (p.revents & (POLLPRI | POLLERR | POLLNVAL)) != 0;
      return;
    }
  }
  if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
}

int CSocketPingBase::ReadDatagram(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& fromNetworkOrder) {
  if (socket_ == -1) return -1;
  const int fd = static_cast<int>(socket_);
  int waiting = 0;
  const bool asked = ioctl(fd, FIONREAD, &waiting) == 0;
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t n = recvfrom(fd, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
  // An empty datagram still had to be taken off the socket above.
  if ((asked && waiting == 0) || n <= 0) return -1;
  fromNetworkOrder = from.sin_addr.s_addr;
  return static_cast<int>(n);
}

int CSocketPing_ICMP::Open() {
  int fd = OpenSocket(SOCK_RAW, IPPROTO_ICMP);
  datagram_ = false;
  if (fd == -1) {
    // Without the right to raw sockets, the system may still offer ICMP
    // echo sockets to this user's group (net.ipv4.ping_group_range).
    fd = OpenSocket(SOCK_DGRAM, IPPROTO_ICMP);
    datagram_ = fd != -1;
  }
  socket_ = fd;
  return fd == -1 ? -1 : 0;
}

int CSocketPing_UDP::Open() {
  const int fd = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
  if (fd == -1) return -1;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    close(fd);
    return -1;
  }
  socket_ = fd;
  return 0;
}

int CSocketPingBase::SendDatagram(const std::wstring& host, std::uint16_t port, const void* bytes,
                                   std::size_t length) {
  const std::intptr_t fd = socket_;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  if (fd == -1 || !ParseIpv4Strict(host, to.sin_addr.s_addr)) return -1;
  return static_cast<int>(sendto(static_cast<int>(fd), bytes, length, MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&to), sizeof to));
}
