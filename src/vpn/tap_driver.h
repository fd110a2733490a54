// The OpenVPN component shipped beside the client and the TAP adapter it
// needs: finding and checking the files, comparing versions, checking (and
// enabling) the adapter, and installing the driver.
#pragma once
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/blocked_operation.h"
#include "platform/tick.h"

constexpr wchar_t kBuiltInOpenVpnVersion[] = L"2.1.4.1";
constexpr wchar_t kTapAdapterDescription[] = L"TAP-Win32 Adapter V9 for OpenVPN Accelerator";
constexpr wchar_t kTapHardwareId[] = L"tap0901_openvpn_accl";

// Sets the OpenVPN and driver directories (every time, whatever the outcome)
// and tells whether every component file is there.
bool CheckOpenVpnComponent(const std::wstring& programDirectory);
std::wstring OpenVpnDriverDirectory();
// The driver matches Windows, not the client: a 64-bit Windows (the x64
// client, or the x86 client under WOW64) needs the 64-bit driver.
const wchar_t* TapDriverFolder(bool windowsIs64Bit);
// 1 when `required` is higher than the installed openvpn's version, 0 equal,
// -1 lower. The installed version is read from the program's version line
// (once per OpenVPN directory); kBuiltInOpenVpnVersion stands in when no
// version line can be had.
int CompareOpenVpnVersion(std::wstring_view required);
int CompareOpenVpnVersion(std::wstring_view required, std::wstring_view installed);
// The version in the first line of `openvpn --version` ("OpenVPN 2.6.14
// x86_64-w64-mingw32 [SSL ...]" gives "2.6.14"; "2.1_rc22" gives "2.1");
// empty when that line is not openvpn's version line.
std::wstring OpenVpnVersionFromOutput(std::string_view output);
std::wstring InstalledOpenVpnVersion();

// One present network adapter device as the device manager reports it.
struct TapDevice {
  std::wstring description;
  bool propertiesRead = false;  // description and hardware id could both be read
};
struct DevNodeStatus {
  std::uint32_t status = 0;
  std::uint32_t problem = 0;
};
constexpr std::uint32_t kDevNodeHasProblem = 0x400;
constexpr std::uint32_t kProblemDisabled = 22;

// What the adapter check asks of the system.
class ITapSystem {
 public:
  virtual ~ITapSystem() = default;
  // openvpn --show-adapters output; empty when openvpn cannot run.
  virtual std::string ShowAdapters() = 0;
  // False when the device list cannot be had.
  virtual bool ListNetworkDevices(std::vector<TapDevice>& devices) = 0;
  virtual std::optional<DevNodeStatus> ReadStatus(std::size_t device) = 0;
  // tapinstall enable *tap0901_openvpn_accl*, waited for.
  virtual void EnableTapAdapters() = 0;
};

bool IsTapAdapterReady(ITapSystem& system);
// The platform's check: on Windows the device manager; on Linux the TUN/TAP
// device can be opened.
bool IsTapAdapterReady();

class CBlockedOperation_InstallOpenVpnDriver : public IOperation {
 public:
  // The dialog stays at least this long, so that it does not flash by.
  explicit CBlockedOperation_InstallOpenVpnDriver(std::uint32_t minimumShowMs = 3000)
      : minimumShowMs_(minimumShowMs) {}
  void Run(IBlockedOperationHost& dialog) override;
  void OnTimer() override;

  // Written by Run on the dialog's worker, read by OnTimer on its window
  // thread.
  std::atomic<std::uint32_t> installerProcessId{0};

 private:
  // Starts the installer and waits for it; false when it could not start.
  bool RunInstaller();
  std::uint32_t minimumShowMs_;
  void* installerProcess = nullptr;
};
