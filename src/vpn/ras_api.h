// The system's dial-up networking service, as the dial-up connection uses
// it. Every call returns the service's error number, 0 on success.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vpn/ras_layout.h"

using RasHandle = void*;

constexpr std::uint32_t kRasErrorInvalidHandle = 6;
constexpr std::uint32_t kRasErrorBufferTooSmall = 603;
constexpr std::uint32_t kRasErrorUnavailable = 1;  // no dial-up service on this system

// Connection states the service reports.
constexpr std::uint32_t kRasStateConnectDevice = 2;
constexpr std::uint32_t kRasStateAuthenticate = 5;
constexpr std::uint32_t kRasStateRetryAuthentication = 7;
constexpr std::uint32_t kRasStateAuthenticated = 14;
constexpr std::uint32_t kRasStateConnected = 0x2000;
constexpr std::uint32_t kRasStateDisconnected = 0x2001;

struct RasConnection {
  RasHandle handle = nullptr;
  std::wstring entryName;
};

// Who hears about the progress of a dial: called on the service's thread,
// with the handle of the connection being dialled.
class IRasDialSink {
 public:
  virtual void OnRasNotification(RasHandle connection, std::uint32_t state, std::uint32_t error) = 0;

 protected:
  ~IRasDialSink() = default;
};

class IRasApi {
 public:
  virtual ~IRasApi() = default;
  // Lists the active connections into a buffer of `bufferBytes`; 603 sets
  // `bufferBytes` to what the service needs.
  virtual std::uint32_t EnumConnections(std::uint32_t& bufferBytes, std::vector<RasConnection>& connections) = 0;
  virtual std::uint32_t HangUp(RasHandle connection) = 0;
  // 6 once a hung-up connection is gone.
  virtual std::uint32_t GetConnectStatus(RasHandle connection) = 0;
  // In the default phone book.
  virtual std::uint32_t SetEntryProperties(const std::wstring& entryName, const ras::Entry& entry) = 0;
  virtual std::uint32_t SetCredentials(const std::wstring& entryName, const ras::Credentials& credentials) = 0;
  // Dials asynchronously; `params.callbackId` is handed back to nobody but
  // the implementation, which calls `sink` for every step until ForgetSink.
  virtual std::uint32_t Dial(const ras::DialParams& params, IRasDialSink& sink, RasHandle& connection) = 0;
  // After this returns `sink` is called no more, however late the service
  // reports a dial of it, and no call into it is still running elsewhere.
  virtual void ForgetSink(IRasDialSink& sink) = 0;
  // The PPP IP projection read into a record of `recordBytes` whose size
  // field says so; `reportedBytes` is the size the service answers with and
  // `localIp` the record's local address (on success).
  virtual std::uint32_t GetPppIpProjection(RasHandle connection, std::uint32_t recordBytes,
                                           std::uint32_t& reportedBytes, std::wstring& localIp) = 0;
  virtual std::uint32_t GetConnectionStatistics(RasHandle connection, ras::Statistics& statistics) = 0;
  // The system's text for a dial-up error number, empty when it has none.
  virtual std::wstring GetErrorString(std::uint32_t error) = 0;
};

// rasapi32, loaded at run time; on a system without it every call answers
// kRasErrorUnavailable. Null on Linux, which has no dial-up service.
std::unique_ptr<IRasApi> CreateSystemRasApi();
