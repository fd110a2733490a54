// A program for the bind module's tests: it talks to a target the way
// ordinary programs do and prints what answered, one line per exchange.
//   tcp HOST PORT [COUNT]   connect, read the greeting
//   tcp6 HOST PORT          the same over an IPv6 socket to ::ffff:HOST
//   udp HOST PORT           sendto, read the answer
//   udpmsg HOST PORT        sendmsg
//   udpmmsg HOST PORT       sendmmsg
//   fork HOST PORT HOST2    tcp to HOST, then a forked child does tcp to HOST2
// A failed exchange prints "error ERRNO".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string ReadAnswer(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 5000) != 1) return "error timeout";
  char buffer[64];
  const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
  if (n <= 0) return "error " + std::to_string(errno);
  return std::string(buffer, static_cast<std::size_t>(n));
}

sockaddr_in Target(const char* host, const char* port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port)));
  inet_pton(AF_INET, host, &a.sin_addr);
  return a;
}

// Connects a stream socket of the address's family and reads the peer's answer.
template <typename Address>
std::string ConnectAndRead(const Address& a, int family) {
  const int fd = socket(family, SOCK_STREAM, 0);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    const int e = errno;
    close(fd);
    return "error " + std::to_string(e);
  }
  std::string answer = ReadAnswer(fd);
  close(fd);
  return answer;
}

std::string Tcp(const char* host, const char* port) { return ConnectAndRead(Target(host, port), AF_INET); }

std::string Tcp6(const char* host, const char* port) {
  const sockaddr_in v4 = Target(host, port);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = v4.sin_port;
  a.sin6_addr.s6_addr[10] = 0xFF;
  a.sin6_addr.s6_addr[11] = 0xFF;
  std::memcpy(a.sin6_addr.s6_addr + 12, &v4.sin_addr, 4);
  return ConnectAndRead(a, AF_INET6);
}

std::string Udp(const std::string& how, const char* host, const char* port) {
  sockaddr_in a = Target(host, port);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  char ping[] = "ping";
  ssize_t sent = -1;
  iovec io{ping, 4};
  msghdr m{};
  m.msg_name = &a;
  m.msg_namelen = sizeof a;
  m.msg_iov = &io;
  m.msg_iovlen = 1;
  if (how == "udp") {
    sent = sendto(fd, ping, 4, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  } else if (how == "udpmsg") {
    sent = sendmsg(fd, &m, 0);
  } else {
    mmsghdr mm{};
    mm.msg_hdr = m;
    sent = sendmmsg(fd, &mm, 1, 0) == 1 ? 4 : -1;
  }
  if (sent != 4) {
    const int e = errno;
    close(fd);
    return "error " + std::to_string(e);
  }
  std::string answer = ReadAnswer(fd);
  close(fd);
  return answer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string mode = argv[1];
  if (mode == "tcp") {
    const int count = argc > 4 ? std::atoi(argv[4]) : 1;
    for (int i = 0; i < count; ++i) std::printf("%s\n", Tcp(argv[2], argv[3]).c_str());
  } else if (mode == "tcp6") {
    std::printf("%s\n", Tcp6(argv[2], argv[3]).c_str());
  } else if (mode == "udp" || mode == "udpmsg" || mode == "udpmmsg") {
    std::printf("%s\n", Udp(mode, argv[2], argv[3]).c_str());
  } else if (mode == "fork" && argc > 4) {
    std::printf("%s\n", Tcp(argv[2], argv[3]).c_str());
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      std::printf("%s\n", Tcp(argv[4], argv[3]).c_str());
      std::fflush(stdout);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
  } else {
    return 2;
  }
  return 0;
}
