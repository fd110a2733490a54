#include "vpn/tap_driver.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "platform/file_io.h"
#include "text/text_table.h"
#include "vpn/console_redirector.h"
#include "vpn/open_vpn.h"
#include "vpn/open_vpn_platform.h"
#include "vpn/tap_driver_platform.h"

namespace {

std::mutex& DriverLock() {
  static std::mutex lock;
  return lock;
}
std::wstring& DriverDirectory() {
  static std::wstring directory;
  return directory;
}

// Four dot-separated numbers; what cannot be read counts as 0.
void ReadVersion(std::wstring_view text, std::uint32_t out[4]) {
  std::size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    out[i] = 0;
    std::uint64_t value = 0;
    bool any = false;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
      value = value * 10 + static_cast<std::uint64_t>(text[at] - L'0');
      if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;
      any = true;
      ++at;
    }
    if (any) out[i] = static_cast<std::uint32_t>(value);
    if (at < text.size() && text[at] == L'.') {
      ++at;
    } else {
      // Nothing more can be read; the remaining numbers stay 0.
      for (int k = i + 1; k < 4; ++k) out[k] = 0;
      return;
    }
  }
}

// It prints two lines and ends; one that does not is ended when the
// redirector goes.
constexpr unsigned kVersionWaitMs = 15000;

// What `openvpn --version` prints; empty when the program cannot run or may
// not be run with our rights.
std::string RunOpenVpnVersion(const std::wstring& openVpnDir) {
  const std::wstring program = OpenVpnProgramPath(openVpnDir, kSystemOpenVpnProgram);
  if (program.empty() || !UntrustedOpenVpnProgram(program).empty()) return {};
  CCConsoleRedirectorSimple child;
  if (!child.StartChild(L"\"" + program + L"\" --version")) return {};
  child.WaitReaderIdle(kVersionWaitMs);
  return child.GetOutput();
}

}  // namespace

const wchar_t* TapDriverFolder(bool windowsIs64Bit) { return windowsIs64Bit ? L"driver_x64" : L"driver_x86"; }

std::wstring OpenVpnDriverDirectory() {
  std::lock_guard<std::mutex> lock(DriverLock());
  return DriverDirectory();
}

bool CheckOpenVpnComponent(const std::wstring& programDirectory) {
  const std::wstring openVpnDir = programDirectory + L"openvpn" + kTapPathSeparator;
  const std::wstring driverDir =
      openVpnDir + TapDriverFolder(RunsOn64BitWindows()) + kTapPathSeparator;
  SetOpenVpnDirectory(openVpnDir);
  {
    std::lock_guard<std::mutex> lock(DriverLock());
    DriverDirectory() = driverDir;
  }
  for (const std::wstring& file : OpenVpnComponentFiles(openVpnDir, driverDir))
    if (!FileExists(file)) return false;
  return OpenVpnProgramAvailable(openVpnDir);
}

std::wstring OpenVpnVersionFromOutput(std::string_view output) {
  constexpr std::string_view kPrefix = "OpenVPN ";
  // Longer than any real version: the rest of a runaway token is not ours to read.
  constexpr std::size_t kMaxVersion = 32;
  const std::string_view line = output.substr(0, output.find_first_of("\r\n"));
  if (line.substr(0, kPrefix.size()) != kPrefix) return {};
  const std::string_view token = line.substr(kPrefix.size(), line.find(' ', kPrefix.size()) - kPrefix.size());
  if (token.size() > kMaxVersion) return {};
  // "2.1_rc22" and "2.6_git" count by their release numbers.
  std::size_t end = 0;
  while (end < token.size() && ((token[end] >= '0' && token[end] <= '9') || token[end] == '.')) ++end;
  if (end == 0 || token[0] == '.') return {};
  while (end > 0 && token[end - 1] == '.') --end;
  return std::wstring(token.begin(), token.begin() + static_cast<std::ptrdiff_t>(end));
}

std::wstring InstalledOpenVpnVersion() {
  static std::mutex lock;
  static std::wstring readFrom, version;
  const std::wstring directory = OpenVpnDirectory();
  std::lock_guard<std::mutex> guard(lock);
  if (directory != readFrom || version.empty()) {
    readFrom = directory;
    version = OpenVpnVersionFromOutput(RunOpenVpnVersion(directory));
  }
  return version.empty() ? std::wstring(kBuiltInOpenVpnVersion) : version;
}

int CompareOpenVpnVersion(std::wstring_view required) {
  return CompareOpenVpnVersion(required, InstalledOpenVpnVersion());
}

int CompareOpenVpnVersion(std::wstring_view required, std::wstring_view installed) {
  std::uint32_t want[4], have[4];
  ReadVersion(required, want);
  ReadVersion(installed, have);
  for (int i = 0; i < 4; ++i) {
    if (want[i] > have[i]) return 1;
    if (want[i] < have[i]) return -1;
  }
  return 0;
}

bool IsTapAdapterReady(ITapSystem& system) {
  // openvpn names every adapter it can use with its identifier in braces.
  if (system.ShowAdapters().find('{') == std::string::npos) return false;
  std::vector<TapDevice> devices;
  if (!system.ListNetworkDevices(devices)) return false;
  bool ready = false;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (!devices[i].propertiesRead || devices[i].description != kTapAdapterDescription) continue;
    const std::optional<DevNodeStatus> status = system.ReadStatus(i);
    if (!status) continue;
    if (!(status->status & kDevNodeHasProblem)) {
      ready = true;
    } else if (status->problem == kProblemDisabled) {
      system.EnableTapAdapters();
      const std::optional<DevNodeStatus> after = system.ReadStatus(i);
      if (after && !(after->status & kDevNodeHasProblem)) ready = true;
    }
  }
  return ready;
}

void CBlockedOperation_InstallOpenVpnDriver::Run(IBlockedOperationHost& dialog) {
  dialog.SetStatusText(GetText("InstallingOpenVpnDriver"));
  const Tick started = GetTickMs();
  RunInstaller();
  const std::uint32_t spent = TickElapsed(GetTickMs(), started);
  if (spent < minimumShowMs_) std::this_thread::sleep_for(std::chrono::milliseconds(minimumShowMs_ - spent));
}
