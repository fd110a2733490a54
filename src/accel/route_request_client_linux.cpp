#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "accel/route_request_client.h"
#include "accel/route_request_socket_server.h"

namespace {

class CSocketChannel : public IRouteRequestChannel {
 public:
  explicit CSocketChannel(std::string path) : path_(std::move(path)) {}
  ~CSocketChannel() override { Close(); }

  bool Open() override {
    Close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    // Non-blocking: a server whose backlog is full is a server that is not there.
    fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0) return false;
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      Close();
      return false;
    }
    return true;
  }

  void Close() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  bool Send(const unsigned char* bytes, std::size_t length) override {
    if (fd_ < 0) return false;
    for (;;) {
      const ssize_t n = send(fd_, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n == static_cast<ssize_t>(length)) return true;
      if (n < 0 && errno == EINTR) continue;
      return false;
    }
  }

  int Receive(int timeoutMs) override {
    if (fd_ < 0) return kClosed;
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
      const int r = poll(&p, 1, timeoutMs);
      if (r == 0) return kTimedOut;
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return kClosed;
      break;
    }
    unsigned char byte = 0;
    const ssize_t n = recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0 && errno == EAGAIN) return kTimedOut;
    return n == 1 ? byte : kClosed;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<IRouteRequestChannel> CreateRouteRequestChannel(const std::string& endpoint) {
  return std::make_unique<CSocketChannel>(endpoint.empty() ? std::string(kRouteRequestSocketPath) : endpoint);
}
