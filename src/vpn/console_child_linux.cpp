// The child runs on a pseudo-terminal: programs that ask for credentials
// (openvpn among them) only do so on a terminal and refuse a plain pipe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/strings.h"
#include "vpn/console_child.h"
#include "vpn/console_redirector.h"

struct CConsoleChild::Impl {
  pid_t pid = -1;
  int master = -1;  // output and input both
  int pidfd = -1;
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

  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
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
  impl_->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return true;
}

long CConsoleChild::Available() {
  if (impl_->master < 0) return -1;
  int n = 0;
  if (::ioctl(impl_->master, FIONREAD, &n) != 0) return -1;
  if (n > 0) return n;
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
  ssize_t n;
  do {
    n = ::read(impl_->master, buffer, max);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
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
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(impl_->master, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool CConsoleChild::Interrupt() { return impl_->pid > 0 && ::kill(impl_->pid, SIGTERM) == 0; }

void CConsoleChild::Terminate() {
  if (impl_->pid > 0) ::kill(impl_->pid, SIGKILL);
}

void CConsoleChild::Close() {
  CloseFd(impl_->master);
  CloseFd(impl_->pidfd);
  if (impl_->pid > 0) {
    // Reaped here so that no zombie outlives the redirector.
    while (::waitpid(impl_->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    impl_->pid = -1;
  }
}
