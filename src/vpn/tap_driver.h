// The OpenVPN component shipped beside the client and the TAP adapter it
// needs: finding and checking the files, comparing versions, checking (and
// enabling) the adapter, and installing the driver.
#pragma once
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
// 1 when `required` is higher than the built-in version, 0 equal, -1 lower.
int CompareOpenVpnVersion(std::wstring_view required);

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

  std::uint32_t installerProcessId = 0;

 private:
  // Starts the installer and waits for it; false when it could not start.
  bool RunInstaller();
  std::uint32_t minimumShowMs_;
  void* installerProcess = nullptr;
};
