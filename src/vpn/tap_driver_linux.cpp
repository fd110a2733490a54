// Linux has no driver package to install: the TUN/TAP device belongs to the
// kernel. The component is the openvpn program and ca.crt; the adapter is
// ready when /dev/net/tun can be opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>

#include "platform/strings.h"
#include "vpn/open_vpn.h"
#include "vpn/open_vpn_platform.h"
#include "vpn/tap_driver.h"
#include "vpn/tap_driver_platform.h"

namespace {

constexpr char kTunDevice[] = "/dev/net/tun";

}  // namespace

bool RunsOn64BitWindows() { return false; }

std::vector<std::wstring> OpenVpnComponentFiles(const std::wstring& openVpnDir, const std::wstring&) {
  return {openVpnDir + L"ca.crt"};
}

bool OpenVpnProgramAvailable(const std::wstring& openVpnDir) {
  return ::access(WideToNarrow(OpenVpnProgramPath(openVpnDir, kSystemOpenVpnProgram)).c_str(), X_OK) == 0;
}

bool IsTapAdapterReady() {
  const int fd = ::open(kTunDevice, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Installing means making the device node where a minimal system lacks it.
bool CBlockedOperation_InstallOpenVpnDriver::RunInstaller() {
  struct stat st{};
  if (::stat(kTunDevice, &st) == 0) return true;
  ::mkdir("/dev/net", 0755);
  return ::mknod(kTunDevice, S_IFCHR | 0666, makedev(10, 200)) == 0;
}

// No installer window to keep in front here.
void CBlockedOperation_InstallOpenVpnDriver::OnTimer() {}
