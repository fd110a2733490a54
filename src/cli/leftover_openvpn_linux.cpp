#include "cli/leftover_openvpn.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Canonical(const std::string& path) {
  std::error_code error;
  const fs::path p = fs::weakly_canonical(path, error);
  return error ? path : p.string();
}

// The parent and the state letter from /proc/PID/stat; false when gone.
bool ReadStat(pid_t pid, pid_t& parent, char& state) {
  const std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
  // The command name may hold anything: the fields after it count from its end.
  const std::size_t close = stat.rfind(')');
  int ppid = 0;
  if (close == std::string::npos || std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) return false;
  parent = static_cast<pid_t>(ppid);
  return true;
}

bool Ended(pid_t pid) {
  pid_t parent = 0;
  char state = 0;
  // A zombie has ended; orphans are reaped late here.
  return !ReadStat(pid, parent, state) || state == 'Z' || state == 'X';
}

std::string ExeOf(pid_t pid) {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
  return error ? std::string() : exe.string();
}

}  // namespace

std::vector<std::string> SplitCmdline(const std::string& bytes) {
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\0', start);
    if (end == std::string::npos) end = bytes.size();
    arguments.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

bool IsOpenVpnWithCa(const std::vector<std::string>& arguments, const std::string& caFile) {
  if (arguments.empty() || fs::path(arguments[0]).filename() != "openvpn") return false;
  const std::string wanted = Canonical(caFile);
  for (std::size_t i = 1; i + 1 < arguments.size(); ++i)
    if (arguments[i] == "--ca" && Canonical(arguments[i + 1]) == wanted) return true;
  return false;
}

LeftoverReport EndLeftoverOpenVpn(const std::string& caFile, int waitMs) {
  LeftoverReport report;
  const std::string self = ExeOf(getpid());
  std::vector<pid_t> asked;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (!IsOpenVpnWithCa(SplitCmdline(ReadAll(entry.path() / "cmdline")), caFile)) continue;
    pid_t parent = 0;
    char state = 0;
    if (!ReadStat(pid, parent, state) || state == 'Z') continue;
    // A running client's own openvpn is that client's business.
    if (!self.empty() && ExeOf(parent) == self) continue;
    if (kill(pid, SIGTERM) == 0) asked.push_back(pid);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (pid_t pid : asked) {
    while (!Ended(pid) && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    (Ended(pid) ? report.ended : report.stillRunning).push_back(pid);
  }
  return report;
}
