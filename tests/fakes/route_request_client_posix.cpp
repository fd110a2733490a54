#include "fakes/route_request_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/strings.h"

CTestRouteClient::CTestRouteClient(const std::wstring& endpoint, unsigned patienceMs) {
  const std::string path = WideToNarrow(endpoint);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
  for (;;) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      handle_ = fd;
      return;
    }
    lastError_ = static_cast<unsigned long>(errno);
    if (fd >= 0) close(fd);
    if (std::chrono::steady_clock::now() >= until) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

CTestRouteClient::~CTestRouteClient() { Close(); }

void CTestRouteClient::Close() {
  if (handle_ != kNone) close(static_cast<int>(handle_));
  handle_ = kNone;
}

bool CTestRouteClient::Send(const std::vector<unsigned char>& bytes) {
  return handle_ != kNone &&
         send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

int CTestRouteClient::Reply(int timeoutMs) {
  if (handle_ == kNone) return -1;
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) return -2;
  unsigned char b = 0;
  const ssize_t n = recv(static_cast<int>(handle_), &b, 1, 0);
  return n == 1 ? b : -1;
}

RouteRequestTransport PlatformRouteRequestTransport() { return {"UnixSocket", true}; }

std::wstring FreshRouteRequestEndpoint() {
  // The server refuses a folder others may write to, as /tmp is.
  static const std::string folder = [] {
    char name[] = "/tmp/qr-rrs-XXXXXX";
    const char* made = mkdtemp(name);
    std::atexit([] { rmdir(folder.c_str()); });
    return std::string(made ? made : "/nonexistent");
  }();
  static int counter = 0;
  return NarrowToWide(folder + "/" + std::to_string(counter++) + ".sock");
}
