// The terminal client as a child process for the tests and the soak: its
// output read line by line, waits on what it prints, never on time alone.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The processes whose parent is `parent` (from /proc/*/stat).
inline std::vector<pid_t> ChildProcesses(pid_t parent) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    std::getline(in, stat);
    // pid (comm) state ppid: the name may hold spaces, so count from its end.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
      found.push_back(static_cast<pid_t>(std::stoi(name)));
  }
  return found;
}

class CQuillnetProcess {
 public:
  explicit CQuillnetProcess(const std::vector<std::string>& arguments) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(out[1], 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(QUILLNET_CLI));
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QUILLNET_CLI, argv.data());
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
  }
  ~CQuillnetProcess() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  CQuillnetProcess(const CQuillnetProcess&) = delete;
  CQuillnetProcess& operator=(const CQuillnetProcess&) = delete;

  // True once the output holds `text`; false when the child ended or
  // `limit` passed first.
  bool WaitForOutput(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (output_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= until || !ReadSome(200)) return output_.find(text) != std::string::npos;
    }
    return true;
  }
  // Until `text` was printed `count` times.
  bool WaitForCount(const std::string& text, std::size_t count,
                    std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (Count(text) < count) {
      if (std::chrono::steady_clock::now() >= until || !ReadSome(200)) return Count(text) >= count;
    }
    return true;
  }
  std::size_t Count(const std::string& text) const {
    std::size_t n = 0;
    for (std::size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + text.size())) ++n;
    return n;
  }
  void Signal(int number) { kill(pid_, number); }
  // The exit status (or 128 + signal); -1 when it did not end within `limit`.
  int Wait(std::chrono::seconds limit = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!exited_) {
      ReadSome(100);
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        while (ReadSome(0)) {
        }
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (std::chrono::steady_clock::now() >= until) {
        return -1;
      }
    }
    return status_;
  }
  pid_t Pid() const { return pid_; }
  const std::string& Output() const { return output_; }

 private:
  // False at the end of the output.
  bool ReadSome(int waitMs) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return true;
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  bool exited_ = false;
  int status_ = -1;
  std::string output_;
};

// Holds a process frozen (the v1 freezer cgroup) so that it neither runs
// nor handles a signal, not even the hangup its terminal's end sends;
// thawed and the group removed again on destruction.
class CFrozenProcess {
 public:
  explicit CFrozenProcess(pid_t pid) : group_("/sys/fs/cgroup/freezer/qcli" + std::to_string(getpid())) {
    std::error_code ignored;
    std::filesystem::create_directory(group_, ignored);
    std::ofstream(group_ / "tasks") << pid << "\n";
    std::ofstream(group_ / "freezer.state") << "FROZEN\n";
    for (int i = 0; i < 1000 && State() != "FROZEN"; ++i) usleep(10000);
    frozen_ = State() == "FROZEN";
  }
  ~CFrozenProcess() {
    std::ofstream(group_ / "freezer.state") << "THAWED\n";
    for (int i = 0; i < 1000 && std::filesystem::exists(group_); ++i) {
      std::error_code ignored;
      if (std::filesystem::remove(group_, ignored)) break;
      usleep(10000);
    }
  }
  bool Frozen() const { return frozen_; }

 private:
  std::string State() const {
    std::ifstream in(group_ / "freezer.state");
    std::string state;
    in >> state;
    return state;
  }
  std::filesystem::path group_;
  bool frozen_ = false;
};

