#include "tools/netns_linux.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

CTestNetns::CTestNetns(const std::string& tag) {
  name_ = "qv" + tag + std::to_string(getpid());
  std::system(("ip netns del " + name_ + " >/dev/null 2>&1").c_str());
  ok_ = std::system(("ip netns add " + name_ + " >/dev/null 2>&1").c_str()) == 0 && Ip("link set lo up");
}

CTestNetns::~CTestNetns() { std::system(("ip netns del " + name_ + " >/dev/null 2>&1").c_str()); }

bool CTestNetns::Ip(const std::string& command) const {
  return std::system(("ip -n " + name_ + " " + command + " >/dev/null 2>&1").c_str()) == 0;
}

bool CTestNetns::Exec(const std::string& command) const {
  return std::system(("ip netns exec " + name_ + " " + command + " >/dev/null 2>&1").c_str()) == 0;
}

bool CTestNetns::RunInside(const std::function<void()>& body) const {
  bool entered = false;
  std::thread inside([&] {
    const int fd = open(("/var/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd == -1) return;
    entered = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    if (entered) body();
  });
  inside.join();
  return entered;
}

bool CanUseTestNetns(std::string& whyNot) {
  if (geteuid() != 0) {
    whyNot = "needs root for network namespaces and TUN devices";
    return false;
  }
  if (access("/dev/net/tun", R_OK | W_OK) != 0) {
    whyNot = "no /dev/net/tun on this machine";
    return false;
  }
  if (std::system("ip -V >/dev/null 2>&1") != 0) {
    whyNot = "the ip tool is missing";
    return false;
  }
  return true;
}

bool DropRawSocketRight() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned bit = 1u << (CAP_NET_RAW % 32);
  data[CAP_NET_RAW / 32].effective &= ~bit;
  data[CAP_NET_RAW / 32].permitted &= ~bit;
  data[CAP_NET_RAW / 32].inheritable &= ~bit;
  return syscall(SYS_capset, &header, data) == 0;
}
