// The child runs on a pseudo-terminal: programs that ask for credentials
// (openvpn among them) only do so on a terminal and refuse a plain pipe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/strings.h"
#include "vpn/console_child.h"
#include "vpn/console_redirector.h"

struct CConsoleChild::Impl {
  pid_t pid = -1;
  int master = -1;  // output and input both, in packet mode
  int pidfd = -1;
  // Wakes a write that waits for room once the child is being ended: the
  // terminal's write does not notice a child that has gone.
  int cancelWrite = -1;
  // The last answer written, until the child shows it got it by writing
  // more output. A program that prints its prompt first and then flushes
  // the terminal's input (openvpn does, for a password: it turns echo off
  // with TCSAFLUSH) throws an answer away that came too quickly; packet
  // mode tells us about the flush, and the answer is written once more.
  std::mutex inputLock;
  std::string lastAnswer;
  bool resendArmed = false;
};

CConsoleChild::CConsoleChild() : impl_(new Impl) {}
CConsoleChild::~CConsoleChild() {
  Terminate();
  Close();
  delete impl_;
}

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

[[noreturn]] void ChildFail(int errorPipe) {
  const int err = errno;
  [[maybe_unused]] ssize_t n = ::write(errorPipe, &err, sizeof err);
  ::_exit(127);
}

// Between fork and exec: only calls that are safe there.
void MarkCloseOnExecFrom(int first, long openMax) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, static_cast<unsigned>(first), ~0u, 4u /* CLOSE_RANGE_CLOEXEC */) == 0) return;
#endif
  const int last = openMax > 0 && openMax < (1 << 20) ? static_cast<int>(openMax) : (1 << 20);
  for (int fd = first; fd < last; ++fd) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

}  // namespace

bool CConsoleChild::Start(const std::wstring& commandLine) {
  Close();
  const std::vector<std::wstring> wideArgs = SplitCommandLine(commandLine);
  if (wideArgs.empty() || wideArgs[0].empty()) return false;
  std::vector<std::string> args;
  for (const std::wstring& a : wideArgs) args.push_back(WideToNarrow(a));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  // Non-blocking: reads only take what is there, and a write waits in
  // poll, where ending the child can wake it.
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master < 0) return false;
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    ::close(master);
    return false;
  }
  char slaveName[128];
  if (::ptsname_r(master, slaveName, sizeof slaveName) != 0) {
    ::close(master);
    return false;
  }
  // Bytes as the program wrote them (no "\n" to "\r\n") and no echo of what
  // we type, so the buffer holds the same text a pipe would on Windows.
  int slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    ::close(master);
    return false;
  }
  const int packetMode = 1;
  if (::ioctl(master, TIOCPKT, &packetMode) != 0) {
    ::close(slave);
    ::close(master);
    return false;
  }
  termios tio{};
  if (::tcgetattr(slave, &tio) == 0) {
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    ::tcsetattr(slave, TCSANOW, &tio);
  }
  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
    ::close(slave);
    ::close(master);
    return false;
  }

  const long openMax = ::sysconf(_SC_OPEN_MAX);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(errorPipe[0]);
    ::close(errorPipe[1]);
    ::close(slave);
    ::close(master);
    return false;
  }
  if (pid == 0) {
    // A session of its own, detached from ours, with the terminal as its
    // controlling one and as all three standard handles.
    ::setsid();
    if (::ioctl(slave, TIOCSCTTY, 0) != 0) ChildFail(errorPipe[1]);
    if (::dup2(slave, 0) < 0 || ::dup2(slave, 1) < 0 || ::dup2(slave, 2) < 0) ChildFail(errorPipe[1]);
    // Only the terminal goes with the program: whatever descriptor of ours
    // lacks close-on-exec (another thread's, a library's, one inherited
    // from our own parent) is closed at the exec.
    MarkCloseOnExecFrom(3, openMax);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execvp(argv[0], argv.data());
    ChildFail(errorPipe[1]);
  }
  ::close(errorPipe[1]);
  ::close(slave);
  int childErrno = 0;
  ssize_t n;
  do {
    n = ::read(errorPipe[0], &childErrno, sizeof childErrno);
  } while (n < 0 && errno == EINTR);
  ::close(errorPipe[0]);
  if (n > 0) {  // exec failed: nothing may be left behind
    ::close(master);
    ::waitpid(pid, nullptr, 0);
    return false;
  }
  impl_->pid = pid;
  impl_->master = master;
  impl_->cancelWrite = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  impl_->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return true;
}

long CConsoleChild::Available() {
  if (impl_->master < 0) return -1;
  int n = 0;
  if (::ioctl(impl_->master, FIONREAD, &n) != 0) return -1;
  if (n > 0) return n;
  pollfd status{impl_->master, POLLPRI, 0};
  if (::poll(&status, 1, 0) > 0 && (status.revents & POLLPRI)) return 1;  // a packet-mode status byte
  // Once the child's side is closed, what it wrote last may still be on its
  // way into the terminal's buffer and not counted yet. A read then cannot
  // block: it returns those bytes (as many as there are), or fails when
  // nothing is left.
  pollfd p{impl_->master, POLLIN, 0};
  if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR))) return static_cast<long>(CConsoleRedirector::kReadChunk);
  return 0;
}

long CConsoleChild::Read(char* buffer, std::size_t max) {
  if (impl_->master < 0) return -1;
  // In packet mode every read starts with a status byte: 0 before data,
  // else the terminal's news and no data.
  std::vector<char> packet(max + 1);
  ssize_t n;
  do {
    n = ::read(impl_->master, packet.data(), packet.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EAGAIN) return 0;
  if (n <= 0) return -1;
  if (packet[0] != TIOCPKT_DATA) {
    if (packet[0] & TIOCPKT_FLUSHREAD) ResendAfterFlush();
    return 0;
  }
  const std::size_t got = static_cast<std::size_t>(n - 1);
  if (got > 0) {
    std::lock_guard lock(impl_->inputLock);
    impl_->resendArmed = false;
  }
  std::copy(packet.begin() + 1, packet.begin() + n, buffer);
  return static_cast<long>(got);
}

void CConsoleChild::ResendAfterFlush() {
  std::string again;
  {
    std::lock_guard lock(impl_->inputLock);
    if (!impl_->resendArmed) return;
    impl_->resendArmed = false;
    // Output still unread was written after our answer: the child went on,
    // so the flush came later and did not take the answer.
    int unread = 0;
    if (::ioctl(impl_->master, FIONREAD, &unread) != 0 || unread > 0) return;
    again = impl_->lastAnswer;
  }
  WriteAll(again);
}

CConsoleChild::WaitResult CConsoleChild::Wait(unsigned milliseconds) {
  if (impl_->pid < 0) return WaitResult::Failed;
  if (impl_->pidfd >= 0) {
    // Wake for output too: the reader then drains at once instead of at the
    // end of the interval, so a prompt is answered as soon as it appears.
    pollfd p[2] = {{impl_->pidfd, POLLIN, 0}, {impl_->master, POLLIN, 0}};
    const int r = ::poll(p, 2, static_cast<int>(milliseconds));
    if (r < 0) return errno == EINTR ? WaitResult::Timeout : WaitResult::Failed;
    return (p[0].revents & POLLIN) ? WaitResult::Exited : WaitResult::Timeout;
  }
  // Kernels without process descriptors: look, then sleep.
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(impl_->pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return WaitResult::Failed;
  if (info.si_pid == impl_->pid) return WaitResult::Exited;
  ::usleep(milliseconds * 1000);
  return WaitResult::Timeout;
}

bool CConsoleChild::Write(const std::string& bytes) {
  if (impl_->master < 0) return false;
  {
    std::lock_guard lock(impl_->inputLock);
    impl_->lastAnswer = bytes;
    impl_->resendArmed = true;
  }
  return WriteAll(bytes);
}

bool CConsoleChild::WriteAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(impl_->master, bytes.data() + done, bytes.size() - done);
    if (n >= 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    pollfd p[2] = {{impl_->master, POLLOUT, 0}, {impl_->cancelWrite, POLLIN, 0}};
    if (::poll(p, impl_->cancelWrite >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return false;
    if (p[1].revents & POLLIN) return false;
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
  }
  return true;
}

bool CConsoleChild::Interrupt() { return impl_->pid > 0 && ::kill(impl_->pid, SIGTERM) == 0; }

void CConsoleChild::Terminate() {
  if (impl_->cancelWrite >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(impl_->cancelWrite, &one, sizeof one);
  }
  if (impl_->pid > 0) ::kill(impl_->pid, SIGKILL);
}

void CConsoleChild::Close() {
  CloseFd(impl_->master);
  CloseFd(impl_->pidfd);
  CloseFd(impl_->cancelWrite);
  if (impl_->pid > 0) {
    // Reaped here so that no zombie outlives the redirector.
    while (::waitpid(impl_->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    impl_->pid = -1;
  }
}
