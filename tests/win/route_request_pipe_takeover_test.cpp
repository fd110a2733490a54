// The pipe server keeps its name to itself: never a second server beside a
// live one, never our server beside whoever took the name first, and only
// SYSTEM, administrators and the client's own user on the list of the pipe.
#include <gtest/gtest.h>

#include "platform/win32.h"
// After <windows.h>.
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "accel/route_request_pipe_server.h"
#include "fakes/fake_forward_table.h"

namespace {

std::wstring PipeName(const wchar_t* what) {
  return L"\\\\.\\pipe\\QuillnetTakeoverTest_" + std::wstring(what) + std::to_wstring(::GetCurrentProcessId());
}

// Opens the server's listening instance as a client would, retrying while
// the thread gets its instance ready.
HANDLE OpenAsClient(const std::wstring& name) {
  for (int i = 0; i < 1000; ++i) {
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    ::Sleep(10);
  }
  return INVALID_HANDLE_VALUE;
}

// Whom the pipe should admit: the logon session's SID from the token's
// groups, the user's own where the token names no session.
std::vector<unsigned char> SessionSid() {
  HANDLE token = nullptr;
  std::vector<unsigned char> sid;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return sid;
  auto copy = [&](PSID from) {
    sid.assign(static_cast<unsigned char*>(from), static_cast<unsigned char*>(from) + ::GetLengthSid(from));
  };
  DWORD size = 0;
  ::GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  std::vector<unsigned char> groups(size);
  if (size && ::GetTokenInformation(token, TokenGroups, groups.data(), size, &size)) {
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
    for (DWORD i = 0; i < list->GroupCount && sid.empty(); ++i)
      if ((list->Groups[i].Attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID) copy(list->Groups[i].Sid);
  }
  unsigned char buffer[256];
  if (sid.empty() && ::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
    copy(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
  ::CloseHandle(token);
  return sid;
}

std::vector<unsigned char> WellKnown(WELL_KNOWN_SID_TYPE type) {
  std::vector<unsigned char> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

// The two ways a taken name is reported: seen before the start, or refused
// by the system for the first instance.
bool NameTaken(unsigned long error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED; }

TEST(PipeServerTakeover, ASecondServerDoesNotStartBesideALiveOne) {
  const std::wstring name = PipeName(L"Second");
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const ForwardRow templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
  CVpnRouteRequestPipeServer first(table, name);
  ASSERT_TRUE(first.Start(templ));
  CVpnRouteRequestPipeServer second(table, name);
  EXPECT_FALSE(second.Start(templ));
  EXPECT_TRUE(NameTaken(second.LastStartError())) << second.LastStartError();
  first.Stop();
  EXPECT_TRUE(second.Start(templ));
  EXPECT_EQ(second.LastStartError(), 0ul);
  second.Stop();
}

TEST(PipeServerTakeover, ANameTakenByAnotherProgramFailsTheStart) {
  const std::wstring name = PipeName(L"Squatted");
  // Someone else's pipe of our name, open to everybody and to any number
  // of instances, as a program waiting for our clients would make it.
  HANDLE squatter = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 5000, nullptr);
  ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  CVpnRouteRequestPipeServer server(table, name);
  EXPECT_FALSE(server.Start(MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6)));
  EXPECT_TRUE(NameTaken(server.LastStartError())) << server.LastStartError();
  EXPECT_FALSE(server.IsRunning());
  ::CloseHandle(squatter);
}

TEST(PipeServerSecurity, ThePipeLetsInOnlySystemAdministratorsAndTheSession) {
  const std::wstring name = PipeName(L"Security");
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  CVpnRouteRequestPipeServer server(table, name);
  ASSERT_TRUE(server.Start(MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6)));
  HANDLE pipe = OpenAsClient(name);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE) << ::GetLastError();

  DWORD flags = 0, maxInstances = 0;
  ASSERT_TRUE(::GetNamedPipeInfo(pipe, &flags, nullptr, nullptr, &maxInstances));
  EXPECT_EQ(maxInstances, static_cast<DWORD>(kRouteRequestMaxInstances));

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                              &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr) << "no list at all lets everybody in";
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);

  const std::vector<unsigned char> user = SessionSid(), system = WellKnown(WinLocalSystemSid),
                                   admins = WellKnown(WinBuiltinAdministratorsSid);
  ASSERT_FALSE(user.empty());
  bool sawUser = false, sawSystem = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    auto* header = static_cast<ACE_HEADER*>(ace);
    ASSERT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &allowed->SidStart;
    wchar_t* text = nullptr;
    ::ConvertSidToStringSidW(sid, &text);
    const std::wstring shown = text ? text : L"?";
    if (text) ::LocalFree(text);
    if (::EqualSid(sid, const_cast<unsigned char*>(user.data()))) {
      sawUser = true;
      EXPECT_EQ(allowed->Mask & FILE_CREATE_PIPE_INSTANCE, 0u) << "the user could serve our clients";
      EXPECT_EQ(allowed->Mask & (GENERIC_ALL | WRITE_DAC | WRITE_OWNER), 0u);
      EXPECT_EQ(allowed->Mask & (FILE_READ_DATA | FILE_WRITE_DATA), static_cast<DWORD>(FILE_READ_DATA | FILE_WRITE_DATA));
    } else if (::EqualSid(sid, const_cast<unsigned char*>(system.data()))) {
      sawSystem = true;
    } else {
      EXPECT_TRUE(::EqualSid(sid, const_cast<unsigned char*>(admins.data()))) << "unexpected entry for " << shown;
    }
  }
  EXPECT_TRUE(sawUser);
  EXPECT_TRUE(sawSystem);
  ::LocalFree(descriptor);
  ::CloseHandle(pipe);
  server.Stop();
}

}  // namespace
