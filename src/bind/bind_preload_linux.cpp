// libquillnet_bind.so: loaded into a program with LD_PRELOAD, it asks the
// client for a host route through the tunnel before the program's IPv4
// connects and datagrams, when the program is activated in the application
// list and a tunnel is up. Whatever goes wrong in here, the program's own
// call proceeds exactly as it would without us.
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "accel/bind_agent.h"
#include "bind/bind_places_linux.h"
#include "platform/strings.h"

namespace {

using ConnectFunction = int (*)(int, const sockaddr*, socklen_t);
using SendToFunction = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);
using SendMsgFunction = ssize_t (*)(int, const msghdr*, int);
using SendMmsgFunction = int (*)(int, mmsghdr*, unsigned int, int);
using BindFunction = int (*)(int, const sockaddr*, socklen_t);

struct RealFunctions {
  ConnectFunction connect = nullptr;
  SendToFunction sendto = nullptr;
  SendMsgFunction sendmsg = nullptr;
  SendMmsgFunction sendmmsg = nullptr;
  BindFunction bind = nullptr;
};

const RealFunctions& Real() {
  static const RealFunctions real = [] {
    RealFunctions r;
    r.connect = reinterpret_cast<ConnectFunction>(dlsym(RTLD_NEXT, "connect"));
    r.sendto = reinterpret_cast<SendToFunction>(dlsym(RTLD_NEXT, "sendto"));
    r.sendmsg = reinterpret_cast<SendMsgFunction>(dlsym(RTLD_NEXT, "sendmsg"));
    r.sendmmsg = reinterpret_cast<SendMmsgFunction>(dlsym(RTLD_NEXT, "sendmmsg"));
    r.bind = reinterpret_cast<BindFunction>(dlsym(RTLD_NEXT, "bind"));
    return r;
  }();
  return real;
}

// Set while this thread is inside the module, so that anything we call that
// comes back through an interposed function passes straight through.
thread_local bool tInside = false;

class CSocket : public IBindSocket {
 public:
  explicit CSocket(int fd) : fd_(fd) {}
  bool IsBound() override {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) return true;
    if (local.ss_family == AF_INET) return reinterpret_cast<sockaddr_in&>(local).sin_port != 0;
    if (local.ss_family == AF_INET6) return reinterpret_cast<sockaddr_in6&>(local).sin6_port != 0;
    return true;
  }
  void Bind(const void* address, std::size_t length) override {
    if (Real().bind) Real().bind(fd_, static_cast<const sockaddr*>(address), static_cast<socklen_t>(length));
  }

 private:
  int fd_;
};

CTunnelStateReader gTunnel;

CBindAgent* Agent() {
  static CBindAgent* agent = [] {
    // Never freed: programs connect from their exit handlers too.
    auto* a = new CBindAgent(
        CreateRouteRequestChannel(BindSocketPath()), NarrowToWide(ExecutablePath()),
        [](const FileIdentity* known, FileIdentity& identity, std::string& bytes) {
          return ReadBoundedFile(AppListFilePath(), known, identity, bytes, kMaxAppListBytes);
        },
        [] { return gTunnel.Read(); });
    pthread_atfork([] { Agent()->Client().BeforeFork(); }, [] { Agent()->Client().AfterForkInParent(); },
                   [] { Agent()->Client().AfterForkInChild(); });
    return a;
  }();
  return agent;
}

// Runs the module's part of a call; errno is the program's again afterwards.
void BeforeSend(int fd, const sockaddr* address, socklen_t length) {
  if (tInside || !address) return;
  const int savedErrno = errno;
  tInside = true;
  try {
    CSocket socket(fd);
    Agent()->BeforeSend(address, length, socket);
  } catch (...) {
    // Out of memory or a system error in here is ours, not the program's.
  }
  tInside = false;
  errno = savedErrno;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int connect(int fd, const sockaddr* address, socklen_t length) {
  BeforeSend(fd, address, length);
  if (!Real().connect) {
    errno = ENOSYS;
    return -1;
  }
  return Real().connect(fd, address, length);
}

__attribute__((visibility("default"))) ssize_t sendto(int fd, const void* buffer, size_t size, int flags,
                                                      const sockaddr* address, socklen_t length) {
  BeforeSend(fd, address, length);
  if (!Real().sendto) {
    errno = ENOSYS;
    return -1;
  }
  return Real().sendto(fd, buffer, size, flags, address, length);
}

__attribute__((visibility("default"))) ssize_t sendmsg(int fd, const msghdr* message, int flags) {
  if (message) BeforeSend(fd, static_cast<const sockaddr*>(message->msg_name), message->msg_namelen);
  if (!Real().sendmsg) {
    errno = ENOSYS;
    return -1;
  }
  return Real().sendmsg(fd, message, flags);
}

__attribute__((visibility("default"))) int sendmmsg(int fd, mmsghdr* messages, unsigned int count, int flags) {
  for (unsigned int i = 0; messages && i < count; ++i)
    BeforeSend(fd, static_cast<const sockaddr*>(messages[i].msg_hdr.msg_name), messages[i].msg_hdr.msg_namelen);
  if (!Real().sendmmsg) {
    errno = ENOSYS;
    return -1;
  }
  return Real().sendmmsg(fd, messages, count, flags);
}

// The client's calls when a tunnel in per-application mode comes up or goes.
__attribute__((visibility("default"))) int VpnBindStart(int version, std::uint32_t localIp) {
  return PublishTunnel(true, version, localIp) ? 0 : 1;
}

__attribute__((visibility("default"))) int VpnBindStop() { return PublishTunnel(false, 0, 0) ? 0 : 1; }

}  // extern "C"
