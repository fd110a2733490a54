#include "cli/client_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// The file is written by the holder only, but read it as if anybody could
// have: digits, a sane length, nothing else.
pid_t ReadPid(int fd) {
  char text[16] = {};
  const ssize_t n = pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  long value = 0;
  ssize_t i = 0;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 0x3fffffff) return 0;
  }
  if (i == 0 || (i < n && text[i] != '\n')) return 0;
  return value > 1 ? static_cast<pid_t>(value) : 0;
}

// True while somebody holds the lock.
bool Held(int fd) {
  if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
    flock(fd, LOCK_UN);
    return false;
  }
  return errno == EWOULDBLOCK;
}

}  // namespace

CClientLock::~CClientLock() {
  if (fd_ < 0) return;
  // Emptied before it is let go, so nobody reads a pid that may be reused;
  // a failure leaves a pid behind an unheld lock, which nobody believes.
  [[maybe_unused]] const int emptied = ftruncate(fd_, 0);
  close(fd_);
}

bool CClientLock::Take(pid_t& holder) {
  holder = -1;
  // Close-on-exec: an openvpn child must not keep the lock after us.
  const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    holder = errno == EWOULDBLOCK ? ReadPid(fd) : -1;
    close(fd);
    return false;
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    close(fd);
    return false;
  }
  fd_ = fd;
  holder = 0;
  return true;
}

pid_t LockHolder(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  pid_t pid = 0;
  // The holder writes its pid right after taking the lock: give it that moment.
  for (int i = 0; i < 20 && Held(fd); ++i) {
    if ((pid = ReadPid(fd)) > 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!Held(fd)) pid = 0;
  close(fd);
  return pid;
}

pid_t EndLockHolder(const std::string& path, int waitMs) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  const pid_t pid = LockHolder(path);
  if (pid <= 0 || kill(pid, SIGTERM) != 0) {
    close(fd);
    return 0;
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  bool held = true;
  while ((held = Held(fd)) && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  close(fd);
  return held ? -1 : pid;
}
