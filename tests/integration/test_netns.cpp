#include "test_netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

bool RunningAsRoot() { return geteuid() == 0; }

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string ShellOutput(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

namespace {

std::string SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

}  // namespace

CTestNamespace::CTestNamespace() {
  static std::atomic<int> counter{0};
  name_ = "qrrt" + std::to_string(getpid()) + "x" + std::to_string(counter++);
  Shell("ip netns del " + name_);
  if (Shell("ip netns add " + name_) != 0) return;
  original_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
  ok_ = original_ >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
  if (target >= 0) close(target);
  if (ok_) Ip("link set lo up");
}

CTestNamespace::~CTestNamespace() {
  if (original_ >= 0) {
    if (setns(original_, CLONE_NEWNET) != 0) std::perror("setns back");
    close(original_);
  }
  Shell("ip netns del " + name_);
}

int CTestNamespace::Ip(const std::string& arguments) const { return Shell("ip -n " + name_ + " " + arguments); }

std::string CTestNamespace::RouteDump() const {
  return SortedLines(ShellOutput("ip -n " + name_ + " -4 route show table all"));
}

std::string CTestNamespace::MainRoutes() const {
  return SortedLines(ShellOutput("ip -n " + name_ + " -4 route show table main"));
}

bool CTestNamespace::AddHomeNetwork() const {
  return Ip("link add qrlan0 type veth peer name qrlan0p") == 0 && Ip("link set qrlan0 up") == 0 &&
         Ip("link set qrlan0p up") == 0 && Ip("addr add 192.168.77.2/24 dev qrlan0") == 0 &&
         Ip("route add default via 192.168.77.1 dev qrlan0 metric 100") == 0 &&
         Ip("link add qrvpn0 type veth peer name qrvpn0p") == 0 && Ip("link set qrvpn0 up") == 0 &&
         Ip("link set qrvpn0p up") == 0 && Ip("addr add 10.8.0.2/24 dev qrvpn0") == 0;
}
