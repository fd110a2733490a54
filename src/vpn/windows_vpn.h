// PPTP and L2TP/IPSec tunnels through the system's dial-up service: a
// phone-book entry named after the product, an asynchronous dial, and the
// service's progress turned into connection states.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "vpn/general_vpn.h"
#include "vpn/ras_api.h"

// The phone-book entry, the device and the adapter all carry this name.
constexpr wchar_t kDialupEntryName[] = L"Quillnet";
constexpr wchar_t kDialupDeviceType[] = L"vpn";

enum WindowsVpnError : std::int32_t {
  WINDOWS_VPN_ERROR_CREATE = 9,
  WINDOWS_VPN_ERROR_DIAL = 10,
};
constexpr std::int32_t kWindowsVpnBadType = 87;

constexpr std::uint32_t kPptpMppeOptions = 0x25141800;
constexpr std::uint32_t kPlainOptions = 0x3d140000;
constexpr std::uint32_t kRemoteDefaultGatewayOption = 0x10;
constexpr std::uint32_t kEntryOptions2 = 0x30;  // pre-shared key, Internet
constexpr std::uint32_t kPreSharedKeyMask = 0x10;

// The entry for a VPN of `type` (1 PPTP, 2 L2TP); false for any other type.
bool BuildDialupEntry(std::int32_t type, bool useMppe, std::int32_t routeMode, const std::wstring& serverHost,
                      ras::Entry& entry);
void BuildDialParams(const ras::Entry& entry, const std::wstring& user, const std::wstring& pass,
                     std::uintptr_t callbackId, ras::DialParams& params);

// What to do with one notification of the service.
enum class RasAction { Nothing, Report, ConnectedSequence };
struct RasDecision {
  RasAction action = RasAction::Nothing;
  std::int32_t state = 0;
  std::int32_t error = 0;
  std::int32_t detail = 0;
};
RasDecision DecideRasNotification(std::uint32_t rasState, std::uint32_t rasError, std::int32_t currentState);

class CWindowsVpn : public CGeneralVpn, public IRasDialSink {
 public:
  // `ras` and `clock` outlive the object.
  CWindowsVpn(std::int32_t vpnType, IForwardTable& forwardTable, IRasApi& ras, IClock& clock = SystemClock(),
              std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer = nullptr);
  ~CWindowsVpn() override;

  std::int32_t Start() override;
  std::int32_t Stop() override;
  std::int32_t GetStatistics(std::uint32_t& sent, std::uint32_t& received) override;
  std::wstring GetErrorDetailText(std::int32_t detail) override;
  std::wstring GetErrorText(std::int32_t errorCode) override;

  // On the service's thread, for every step of the dial Start began.
  void OnRasNotification(RasHandle connection, std::uint32_t rasState, std::uint32_t rasError) override;

  // Configuration, set by the owner before Start.
  std::int32_t useMppe = 1;    // PPTP only
  std::wstring preSharedKey;   // L2TP only

  RasHandle Connection() const { return rasConnection.load(); }

 private:
  RasHandle FindExistingConnection();
  void WaitForHangUp(RasHandle connection);
  void RunConnectedSequence(RasHandle connection);

  IRasApi& ras_;
  IClock& clock_;
  std::atomic<RasHandle> rasConnection{nullptr};
};
