// The dial-up port's Windows side over a stand-in of the dial-up library:
// what each call hands the library, read through the system headers' own
// record types, and what it makes of the answers. Wine's library is a stub,
// so nothing else looks at these records before a real system does.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
// After <windows.h>.
#include <ras.h>
#include <raserror.h>

#include "vpn/ras_api_win.h"
#include "vpn/ras_layout.h"

namespace {

// Our records against the system headers' own, for this architecture.
static_assert(sizeof(ras::Entry) == sizeof(RASENTRYW));
static_assert(offsetof(ras::Entry, vpnStrategy) == offsetof(RASENTRYW, dwVpnStrategy));
static_assert(sizeof(ras::DialParams) == offsetof(RASDIALPARAMSW, dwIfIndex));
static_assert(offsetof(ras::DialParams, callbackId) == offsetof(RASDIALPARAMSW, dwCallbackId));
static_assert(sizeof(ras::Connection) == sizeof(RASCONNW));
static_assert(offsetof(ras::Connection, entryName) == offsetof(RASCONNW, szEntryName));
static_assert(sizeof(ras::Credentials) == sizeof(RASCREDENTIALSW));
static_assert(sizeof(ras::PppIp) == sizeof(RASPPPIPW));
static_assert(sizeof(ras::Statistics) == sizeof(RAS_STATS));

using Notifier = DWORD(WINAPI*)(ULONG_PTR, DWORD, HANDLE, UINT, DWORD, DWORD, DWORD);

// What the stand-in saw; one test at a time uses it.
struct Seen {
  std::vector<std::string> calls;
  std::wstring phonebook;
  bool phonebookNull = false;
  std::wstring entryName;
  std::vector<unsigned char> record;  // the record handed in, as it arrived
  DWORD recordArgument = 0;           // a size or a flag passed beside it
  DWORD notifierType = 0;
  Notifier notifier = nullptr;
  bool extensionsNull = false;
  HANDLE handle = nullptr;
  DWORD projectionType = 0;
};
Seen g_seen;

const HANDLE kConnection = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x4242));

void Keep(const void* record, std::size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(record);
  g_seen.record.assign(p, p + bytes);
}

template <class T>
const T& Record() {
  return *reinterpret_cast<const T*>(g_seen.record.data());
}

DWORD WINAPI StandInSetEntryProperties(LPCWSTR phonebook, LPCWSTR entry, void* record, DWORD size, BYTE* device,
                                       DWORD deviceSize) {
  g_seen.calls.push_back("entry");
  g_seen.phonebookNull = phonebook == nullptr;
  g_seen.entryName = entry ? entry : L"";
  g_seen.recordArgument = size;
  if (!record || size < sizeof(DWORD) || device || deviceSize) return ERROR_INVALID_PARAMETER;
  Keep(record, size);
  return 0;
}

DWORD WINAPI StandInSetCredentials(LPCWSTR phonebook, LPCWSTR entry, void* record, BOOL clear) {
  g_seen.calls.push_back("credentials");
  g_seen.phonebookNull = phonebook == nullptr;
  g_seen.entryName = entry ? entry : L"";
  g_seen.recordArgument = static_cast<DWORD>(clear);
  if (!record) return ERROR_INVALID_PARAMETER;
  Keep(record, *static_cast<DWORD*>(record));
  return 0;
}

DWORD WINAPI StandInDial(void* extensions, LPCWSTR phonebook, void* params, DWORD notifierType, void* notifier,
                         HANDLE* connection) {
  g_seen.calls.push_back("dial");
  g_seen.extensionsNull = extensions == nullptr;
  g_seen.phonebookNull = phonebook == nullptr;
  g_seen.notifierType = notifierType;
  g_seen.notifier = reinterpret_cast<Notifier>(notifier);
  if (!params || !connection) return ERROR_INVALID_PARAMETER;
  // The record's own size says which form it is; copy that much only.
  Keep(params, *static_cast<DWORD*>(params));
  *connection = kConnection;
  return 0;
}

DWORD WINAPI StandInGetConnectStatus(HANDLE connection, void* record) {
  g_seen.calls.push_back("status");
  g_seen.handle = connection;
  if (!record) return ERROR_INVALID_PARAMETER;
  Keep(record, *static_cast<DWORD*>(record));
  return 0;
}

DWORD WINAPI StandInGetProjectionInfo(HANDLE connection, DWORD type, void* record, DWORD* size) {
  g_seen.calls.push_back("projection");
  g_seen.handle = connection;
  g_seen.projectionType = type;
  if (!record || !size) return ERROR_INVALID_PARAMETER;
  g_seen.recordArgument = *size;
  Keep(record, *size);
  auto* ip = static_cast<RASPPPIPW*>(record);
  if (ip->dwSize != sizeof(RASPPPIPW)) return ERROR_INVALID_SIZE;
  std::wcscpy(ip->szIpAddress, L"10.8.0.6");
  std::wcscpy(ip->szServerIpAddress, L"10.8.0.1");
  return 0;
}

DWORD WINAPI StandInGetStatistics(HANDLE connection, void* record) {
  g_seen.calls.push_back("statistics");
  g_seen.handle = connection;
  auto* stats = static_cast<RAS_STATS*>(record);
  if (!stats) return ERROR_INVALID_PARAMETER;
  Keep(record, sizeof(DWORD));
  if (stats->dwSize != sizeof(RAS_STATS)) return ERROR_INVALID_SIZE;
  stats->dwBytesXmited = 1234;
  stats->dwBytesRcved = 5678;
  return 0;
}

DWORD WINAPI StandInEnumConnections(void* records, DWORD* bytes, DWORD* count) {
  g_seen.calls.push_back("enum");
  if (!records || !bytes || !count) return ERROR_INVALID_PARAMETER;
  auto* first = static_cast<RASCONNW*>(records);
  g_seen.recordArgument = *bytes;
  Keep(records, sizeof(DWORD));
  if (first->dwSize != sizeof(RASCONNW)) return ERROR_INVALID_SIZE;
  if (*bytes < 2 * sizeof(RASCONNW)) {
    *bytes = 2 * sizeof(RASCONNW);
    return ERROR_BUFFER_TOO_SMALL;
  }
  first[0].hrasconn = reinterpret_cast<HRASCONN>(kConnection);
  std::wcscpy(first[0].szEntryName, L"Quillnet");
  first[1].hrasconn = reinterpret_cast<HRASCONN>(static_cast<ULONG_PTR>(0x77));
  std::wcscpy(first[1].szEntryName, L"Office");
  *count = 2;
  return 0;
}

void* StandIn(const char* name) {
  const std::string n = name;
  if (n == "RasSetEntryPropertiesW") return reinterpret_cast<void*>(&StandInSetEntryProperties);
  if (n == "RasSetCredentialsW") return reinterpret_cast<void*>(&StandInSetCredentials);
  if (n == "RasDialW") return reinterpret_cast<void*>(&StandInDial);
  if (n == "RasGetConnectStatusW") return reinterpret_cast<void*>(&StandInGetConnectStatus);
  if (n == "RasGetProjectionInfoW") return reinterpret_cast<void*>(&StandInGetProjectionInfo);
  if (n == "RasGetConnectionStatistics") return reinterpret_cast<void*>(&StandInGetStatistics);
  if (n == "RasEnumConnectionsW") return reinterpret_cast<void*>(&StandInEnumConnections);
  return nullptr;
}

class CRecordingSink : public IRasDialSink {
 public:
  void OnRasNotification(RasHandle connection, std::uint32_t state, std::uint32_t error) override {
    handles.push_back(connection);
    states.push_back(state);
    errors.push_back(error);
  }
  std::vector<RasHandle> handles;
  std::vector<std::uint32_t> states, errors;
};

class RasApiOverStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen = Seen{};
    ras = CreateRasApiOver(&StandIn);
  }
  std::unique_ptr<IRasApi> ras;
};

TEST_F(RasApiOverStandIn, EntryAndCredentialsReachTheServiceAsTheSystemRecords) {
  ras::Entry entry{};
  entry.size = sizeof entry;
  entry.options = 0x1234;
  entry.vpnStrategy = 3;
  ras::CopyText(entry.localPhoneNumber, L"203.0.113.9");
  ras::CopyText(entry.deviceType, L"vpn");
  ASSERT_EQ(ras->SetEntryProperties(L"Quillnet", entry), 0u);
  EXPECT_TRUE(g_seen.phonebookNull);
  EXPECT_EQ(g_seen.entryName, L"Quillnet");
  EXPECT_EQ(g_seen.recordArgument, static_cast<DWORD>(sizeof(RASENTRYW)));
  ASSERT_EQ(g_seen.record.size(), sizeof(RASENTRYW));
  const auto& e = Record<RASENTRYW>();
  EXPECT_EQ(e.dwSize, static_cast<DWORD>(sizeof(RASENTRYW)));
  EXPECT_EQ(e.dwfOptions, 0x1234u);
  EXPECT_EQ(e.dwVpnStrategy, 3u);
  EXPECT_STREQ(e.szLocalPhoneNumber, L"203.0.113.9");
  EXPECT_STREQ(e.szDeviceType, L"vpn");

  ras::Credentials credentials{};
  credentials.size = sizeof credentials;
  credentials.mask = RASCM_UserName | RASCM_Password;
  ras::CopyText(credentials.userName, L"alice");
  ras::CopyText(credentials.password, L"secret");
  ASSERT_EQ(ras->SetCredentials(L"Quillnet", credentials), 0u);
  EXPECT_EQ(g_seen.entryName, L"Quillnet");
  EXPECT_EQ(g_seen.recordArgument, static_cast<DWORD>(FALSE)) << "the stored credentials must not be cleared";
  ASSERT_EQ(g_seen.record.size(), sizeof(RASCREDENTIALSW));
  const auto& c = Record<RASCREDENTIALSW>();
  EXPECT_EQ(c.dwMask, static_cast<DWORD>(RASCM_UserName | RASCM_Password));
  EXPECT_STREQ(c.szUserName, L"alice");
  EXPECT_STREQ(c.szPassword, L"secret");
}

TEST_F(RasApiOverStandIn, DialPassesTheOlderParameterFormAndNotifiesTheSink) {
  ras::DialParams params{};
  params.size = sizeof params;
  ras::CopyText(params.entryName, L"Quillnet");
  ras::CopyText(params.userName, L"alice");
  ras::CopyText(params.password, L"secret");
  CRecordingSink sink;
  RasHandle connection = nullptr;
  ASSERT_EQ(ras->Dial(params, sink, connection), 0u);
  EXPECT_EQ(connection, static_cast<RasHandle>(kConnection));
  EXPECT_TRUE(g_seen.extensionsNull);
  EXPECT_TRUE(g_seen.phonebookNull);
  EXPECT_EQ(g_seen.notifierType, 2u) << "the notifier must be called as RasDialFunc2";
  ASSERT_NE(g_seen.notifier, nullptr);
  // Every supported system takes the form without the interface index.
  ASSERT_EQ(g_seen.record.size(), offsetof(RASDIALPARAMSW, dwIfIndex));
  const auto& p = Record<RASDIALPARAMSW>();
  EXPECT_STREQ(p.szEntryName, L"Quillnet");
  EXPECT_STREQ(p.szUserName, L"alice");
  EXPECT_STREQ(p.szPassword, L"secret");
  EXPECT_NE(p.dwCallbackId, 0u);

  // The service reports the steps to the notifier with the callback id.
  g_seen.notifier(p.dwCallbackId, 0, kConnection, 0, RASCS_Authenticate, 0, 0);
  g_seen.notifier(p.dwCallbackId, 0, kConnection, 0, RASCS_Disconnected, 691, 0);
  EXPECT_EQ(sink.states, (std::vector<std::uint32_t>{RASCS_Authenticate, RASCS_Disconnected}));
  EXPECT_EQ(sink.errors, (std::vector<std::uint32_t>{0, 691}));
  EXPECT_EQ(sink.handles, (std::vector<RasHandle>{kConnection, kConnection}));
}

TEST_F(RasApiOverStandIn, QueriesHandTheServiceSizedRecordsAndReadTheAnswers) {
  EXPECT_EQ(ras->GetConnectStatus(kConnection), 0u);
  EXPECT_EQ(g_seen.handle, kConnection);
  EXPECT_EQ(Record<DWORD>(), static_cast<DWORD>(sizeof(RASCONNSTATUSW)));

  std::uint32_t reported = 0;
  std::wstring localIp;
  ASSERT_EQ(ras->GetPppIpProjection(kConnection, sizeof(RASPPPIPW), reported, localIp), 0u);
  EXPECT_EQ(g_seen.projectionType, static_cast<DWORD>(RASP_PppIp));
  EXPECT_EQ(g_seen.recordArgument, static_cast<DWORD>(sizeof(RASPPPIPW)));
  EXPECT_EQ(Record<DWORD>(), static_cast<DWORD>(sizeof(RASPPPIPW)));
  EXPECT_EQ(localIp, L"10.8.0.6");

  ras::Statistics statistics{};
  ASSERT_EQ(ras->GetConnectionStatistics(kConnection, statistics), 0u);
  EXPECT_EQ(statistics.bytesSent, 1234u);
  EXPECT_EQ(statistics.bytesReceived, 5678u);

  // A buffer for one record first: the service asks for two and gets them.
  std::uint32_t bytes = sizeof(RASCONNW);
  std::vector<RasConnection> connections;
  EXPECT_EQ(ras->EnumConnections(bytes, connections), static_cast<std::uint32_t>(ERROR_BUFFER_TOO_SMALL));
  EXPECT_EQ(Record<DWORD>(), static_cast<DWORD>(sizeof(RASCONNW)));
  EXPECT_EQ(bytes, 2 * sizeof(RASCONNW));
  ASSERT_EQ(ras->EnumConnections(bytes, connections), 0u);
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_EQ(connections[0].handle, static_cast<RasHandle>(kConnection));
  EXPECT_EQ(connections[0].entryName, L"Quillnet");
  EXPECT_EQ(connections[1].entryName, L"Office");
}

TEST_F(RasApiOverStandIn, AMissingFunctionIsReportedNotCalled) {
  auto empty = CreateRasApiOver([](const char*) -> void* { return nullptr; });
  ras::Entry entry{};
  entry.size = sizeof entry;
  EXPECT_EQ(empty->SetEntryProperties(L"Quillnet", entry), kRasErrorUnavailable);
  CRecordingSink sink;
  RasHandle connection = nullptr;
  EXPECT_EQ(empty->Dial(ras::DialParams{}, sink, connection), kRasErrorUnavailable);
  EXPECT_EQ(empty->GetErrorString(691), L"");
  EXPECT_TRUE(g_seen.calls.empty());
}

}  // namespace
