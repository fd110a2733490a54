#include "vpn/ras_api_win.h"

#include <algorithm>
#include <cstring>

#include "platform/win32.h"
#include "vpn/ras_sinks.h"

namespace {

#pragma pack(push, 4)
// RASCONNSTATUSW in the form with the phone number, without the end points
// of later systems.
struct ConnectStatus {
  DWORD size;
  DWORD state;
  DWORD error;
  WCHAR deviceType[ras::kMaxDeviceType + 1];
  WCHAR deviceName[ras::kMaxDeviceName + 1];
  WCHAR phoneNumber[ras::kMaxPhoneNumber + 1];
};
#pragma pack(pop)
static_assert(sizeof(ConnectStatus) == 564);

constexpr DWORD kProjectionPppIp = 0x8021;
constexpr DWORD kNotifierForm2 = 2;
// A projection record is 80 bytes; a service asking for more than this is
// not believed.
constexpr std::uint32_t kMaxProjectionBytes = 4096;
constexpr std::uint32_t kMaxEnumerationBytes = 1024 * 1024;

using EnumConnectionsFn = DWORD(WINAPI*)(void*, DWORD*, DWORD*);
using HangUpFn = DWORD(WINAPI*)(HANDLE);
using GetConnectStatusFn = DWORD(WINAPI*)(HANDLE, void*);
using SetEntryPropertiesFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, void*, DWORD, BYTE*, DWORD);
using SetCredentialsFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, void*, BOOL);
using DialFn = DWORD(WINAPI*)(void*, LPCWSTR, void*, DWORD, void*, HANDLE*);
using GetProjectionInfoFn = DWORD(WINAPI*)(HANDLE, DWORD, void*, DWORD*);
using GetConnectionStatisticsFn = DWORD(WINAPI*)(HANDLE, void*);
using GetErrorStringFn = DWORD(WINAPI*)(UINT, LPWSTR, DWORD);
using DialFunc2 = DWORD(WINAPI*)(ULONG_PTR, DWORD, HANDLE, UINT, DWORD, DWORD, DWORD);

template <class F>
F Lookup(const RasFunctionLookup& lookup, const char* name) {
  return reinterpret_cast<F>(lookup(name));
}

// Process-wide because the service's callback is a plain function.
CRasSinkRegistry& Sinks() {
  static CRasSinkRegistry sinks;
  return sinks;
}

DWORD WINAPI OnDialNotification(ULONG_PTR callbackId, DWORD, HANDLE connection, UINT, DWORD state, DWORD error,
                                DWORD) {
  Sinks().Deliver(callbackId, connection, state, error);
  return 1;  // keep the notifications coming
}

class CWin32RasApi : public IRasApi {
 public:
  // `module` is freed with this object (null for a stand-in).
  CWin32RasApi(HMODULE module, const RasFunctionLookup& lookup) : module_(module) {
    enum_ = Lookup<EnumConnectionsFn>(lookup, "RasEnumConnectionsW");
    hangUp_ = Lookup<HangUpFn>(lookup, "RasHangUpW");
    status_ = Lookup<GetConnectStatusFn>(lookup, "RasGetConnectStatusW");
    setEntry_ = Lookup<SetEntryPropertiesFn>(lookup, "RasSetEntryPropertiesW");
    setCredentials_ = Lookup<SetCredentialsFn>(lookup, "RasSetCredentialsW");
    dial_ = Lookup<DialFn>(lookup, "RasDialW");
    projection_ = Lookup<GetProjectionInfoFn>(lookup, "RasGetProjectionInfoW");
    statistics_ = Lookup<GetConnectionStatisticsFn>(lookup, "RasGetConnectionStatistics");
    errorString_ = Lookup<GetErrorStringFn>(lookup, "RasGetErrorStringW");
  }
  ~CWin32RasApi() override {
    if (module_) ::FreeLibrary(module_);
  }

  std::uint32_t EnumConnections(std::uint32_t& bufferBytes, std::vector<RasConnection>& connections) override {
    if (!enum_) return kRasErrorUnavailable;
    const std::uint32_t bytes = std::clamp<std::uint32_t>(bufferBytes, sizeof(ras::Connection), kMaxEnumerationBytes);
    std::vector<ras::Connection> buffer(bytes / sizeof(ras::Connection) + 1);
    std::memset(buffer.data(), 0, buffer.size() * sizeof(ras::Connection));
    buffer[0].size = sizeof(ras::Connection);
    DWORD cb = bytes, count = 0;
    const DWORD rc = enum_(buffer.data(), &cb, &count);
    if (rc == kRasErrorBufferTooSmall) bufferBytes = cb;
    if (rc != 0) return rc;
    connections.clear();
    count = std::min<DWORD>(count, bytes / sizeof(ras::Connection));
    for (DWORD i = 0; i < count; ++i) connections.push_back({buffer[i].handle, ras::ReadText(buffer[i].entryName)});
    return 0;
  }

  std::uint32_t HangUp(RasHandle connection) override {
    return hangUp_ ? hangUp_(static_cast<HANDLE>(connection)) : kRasErrorUnavailable;
  }

  std::uint32_t GetConnectStatus(RasHandle connection) override {
    if (!status_) return kRasErrorUnavailable;
    ConnectStatus status{};
    status.size = sizeof status;
    return status_(static_cast<HANDLE>(connection), &status);
  }

  std::uint32_t SetEntryProperties(const std::wstring& entryName, const ras::Entry& entry) override {
    if (!setEntry_) return kRasErrorUnavailable;
    ras::Entry copy = entry;
    return setEntry_(nullptr, entryName.c_str(), &copy, sizeof copy, nullptr, 0);
  }

  std::uint32_t SetCredentials(const std::wstring& entryName, const ras::Credentials& credentials) override {
    if (!setCredentials_) return kRasErrorUnavailable;
    ras::Credentials copy = credentials;
    return setCredentials_(nullptr, entryName.c_str(), &copy, FALSE);
  }

  std::uint32_t Dial(const ras::DialParams& params, IRasDialSink& sink, RasHandle& connection) override {
    if (!dial_) return kRasErrorUnavailable;
    ras::DialParams copy = params;
    copy.callbackId = Sinks().Register(sink);
    HANDLE handle = nullptr;
    const DWORD rc = dial_(nullptr, nullptr, &copy, kNotifierForm2,
                           reinterpret_cast<void*>(static_cast<DialFunc2>(OnDialNotification)), &handle);
    SecureZeroMemory(copy.password, sizeof copy.password);
    // The service hands out a handle even when dialling fails; it must be
    // hung up by the caller, so it is passed on either way.
    connection = handle;
    return rc;
  }

  void ForgetSink(IRasDialSink& sink) override { Sinks().Forget(sink); }

  std::uint32_t GetPppIpProjection(RasHandle connection, std::uint32_t recordBytes, std::uint32_t& reportedBytes,
                                   std::wstring& localIp) override {
    if (!projection_) return kRasErrorUnavailable;
    recordBytes = std::clamp<std::uint32_t>(recordBytes, sizeof(ras::PppIp), kMaxProjectionBytes);
    std::vector<std::uint8_t> buffer(recordBytes, 0);
    std::memcpy(buffer.data(), &recordBytes, sizeof recordBytes);
    DWORD cb = recordBytes;
    const DWORD rc = projection_(static_cast<HANDLE>(connection), kProjectionPppIp, buffer.data(), &cb);
    reportedBytes = cb;
    if (rc != 0) return rc;
    ras::PppIp record;
    std::memcpy(&record, buffer.data(), sizeof record);
    localIp = ras::ReadText(record.ipAddress);
    return 0;
  }

  std::uint32_t GetConnectionStatistics(RasHandle connection, ras::Statistics& statistics) override {
    if (!statistics_) return kRasErrorUnavailable;
    statistics = ras::Statistics{};
    statistics.size = sizeof statistics;
    return statistics_(static_cast<HANDLE>(connection), &statistics);
  }

  std::wstring GetErrorString(std::uint32_t error) override {
    if (!errorString_) return {};
    wchar_t text[1024] = {};
    if (errorString_(error, text, 1024) != 0) return {};
    text[1023] = L'\0';
    return text;
  }

 private:
  HMODULE module_;
  EnumConnectionsFn enum_ = nullptr;
  HangUpFn hangUp_ = nullptr;
  GetConnectStatusFn status_ = nullptr;
  SetEntryPropertiesFn setEntry_ = nullptr;
  SetCredentialsFn setCredentials_ = nullptr;
  DialFn dial_ = nullptr;
  GetProjectionInfoFn projection_ = nullptr;
  GetConnectionStatisticsFn statistics_ = nullptr;
  GetErrorStringFn errorString_ = nullptr;
};

}  // namespace

std::unique_ptr<IRasApi> CreateSystemRasApi() {
  HMODULE module = ::LoadLibraryW(L"rasapi32.dll");
  return std::make_unique<CWin32RasApi>(module, [module](const char* name) {
    return module ? reinterpret_cast<void*>(::GetProcAddress(module, name)) : nullptr;
  });
}

std::unique_ptr<IRasApi> CreateRasApiOver(const RasFunctionLookup& lookup) {
  return std::make_unique<CWin32RasApi>(nullptr, lookup);
}
