#include "accel/route_request_socket_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/invoking_user.h"
#include "platform/strings.h"

namespace {

struct Client {
  int fd = -1;
  bool writing = false;  // a reply waits for room in the socket
  unsigned char reply = 0;
};

}  // namespace

CVpnRouteRequestSocketServer::CVpnRouteRequestSocketServer(IForwardTable& table, std::string path, Clock clock)
    : CVpnRouteRequestBaseServer(table, std::move(clock)), path_(std::move(path)), allowedUser_(CurrentInvokingUser().uid) {
  stopEvent_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CVpnRouteRequestSocketServer::~CVpnRouteRequestSocketServer() {
  Stop();
  if (listener_ >= 0) close(listener_);
  if (stopEvent_ >= 0) close(stopEvent_);
}

namespace {

// A folder others may write to lets them take the name first, or swap the
// socket for their own once we have bound it.
bool PrivateFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  if (info.st_uid != 0 && info.st_uid != geteuid()) return false;
  return (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool CVpnRouteRequestSocketServer::PeerAllowed(int fd) const {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) return false;
  return peer.uid == 0 || peer.uid == geteuid() || peer.uid == allowedUser_;
}

bool CVpnRouteRequestSocketServer::PrepareStart() {
  if (stopEvent_ < 0) return false;
  std::uint64_t drained = 0;
  while (read(stopEvent_, &drained, sizeof drained) > 0) {
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.empty() || path_.size() >= sizeof address.sun_path || !PrivateFolder(path_)) return false;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  // A socket file left by a server that died is ours to replace; one with a
  // live server behind it is not (it would quietly lose its clients), and
  // anything else at that path is not either.
  struct stat info {};
  if (lstat(path_.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
    const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const bool live = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const bool refused = !live && errno == ECONNREFUSED;
    if (probe >= 0) close(probe);
    if (live || !refused) {
      close(fd);
      return false;
    }
    unlink(path_.c_str());
  }
  // Nobody connects before listen(), so the mode the umask gave the file
  // for a moment lets nobody in.
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return false;
  }
  if (lchown(path_.c_str(), allowedUser_, static_cast<gid_t>(-1)) != 0 || chmod(path_.c_str(), 0600) != 0 ||
      listen(fd, SOMAXCONN) != 0) {
    unlink(path_.c_str());
    close(fd);
    return false;
  }
  listener_ = fd;
  return true;
}

void CVpnRouteRequestSocketServer::SignalStop() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(stopEvent_, &one, sizeof one);
}

void CVpnRouteRequestSocketServer::Run() {
  std::vector<Client> clients;
  std::vector<pollfd> polls;
  unsigned char request[kRouteRequestBufferSize];
  auto closeClient = [&](std::size_t i) {
    close(clients[i].fd);
    clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
  };
  // Sends the pending reply; false when the client has to go.
  auto sendReply = [&](Client& c) {
    const ssize_t n = send(c.fd, &c.reply, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == 1) {
      c.writing = false;
      return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      c.writing = true;
      return true;
    }
    return false;
  };
  for (;;) {
    polls.clear();
    polls.push_back({stopEvent_, POLLIN, 0});
    // With every instance busy, newcomers wait in the backlog as pipe
    // clients wait for a free instance.
    const bool accepting = static_cast<int>(clients.size()) < kRouteRequestMaxInstances;
    polls.push_back({accepting ? listener_ : -1, POLLIN, 0});
    for (const Client& c : clients) polls.push_back({c.fd, static_cast<short>(c.writing ? POLLOUT : POLLIN), 0});
    if (poll(polls.data(), polls.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (polls[0].revents) break;
    // Walk clients backwards so that closing one leaves the others' slots.
    for (std::size_t i = clients.size(); i-- > 0;) {
      const short events = polls[i + 2].revents;
      if (!events) continue;
      Client& c = clients[i];
      if (c.writing) {
        if (!sendReply(c)) closeClient(i);
        continue;
      }
      if (!(events & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = recv(c.fd, request, sizeof request, MSG_DONTWAIT | MSG_TRUNC);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // End of stream, an empty message or one beyond the buffer ends the
      // conversation, as a broken pipe would.
      if (n <= 0 || static_cast<std::size_t>(n) > sizeof request) {
        closeClient(i);
        continue;
      }
      c.reply = Answer(request, static_cast<std::size_t>(n));
      if (!sendReply(c)) closeClient(i);
    }
    if (polls[1].revents & POLLIN) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0 && !PeerAllowed(fd)) {
        close(fd);
      } else if (fd >= 0) {
        clients.push_back({fd, false, 0});
        PurgeRoutes(kPurgeExpired);
      }
    }
  }
  for (const Client& c : clients) close(c.fd);
  close(listener_);
  listener_ = -1;
  unlink(path_.c_str());
  PurgeRoutes(kPurgeAll);
}

std::unique_ptr<CVpnRouteRequestBaseServer> CreateRouteRequestServer(IForwardTable& table,
                                                                     const std::wstring& endpoint,
                                                                     CVpnRouteRequestBaseServer::Clock clock) {
  return std::make_unique<CVpnRouteRequestSocketServer>(
      table, endpoint.empty() ? std::string(kRouteRequestSocketPath) : WideToNarrow(endpoint), std::move(clock));
}
