#include "accel/route_request_pipe_security.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kEnabledMandatory = 0x7;  // mandatory, enabled by default, enabled
constexpr std::uint32_t kLogon = kEnabledMandatory | kTokenGroupLogonId;
const std::wstring kUser = L"S-1-5-21-1004336348-1177238915-682003330-1001";
const std::wstring kSession = L"S-1-5-5-0-181829";

TEST(RouteRequestPipeSecurity, TheSessionsLogonSidIsAdmittedAndTheUsersOnlyWithoutOne) {
  struct Case {
    const char* name;
    std::wstring user;
    std::vector<TokenGroupEntry> groups;
    std::wstring admitted;
  } cases[] = {
      {"a session", kUser, {{L"S-1-1-0", kEnabledMandatory}, {kSession, kLogon}, {L"S-1-5-32-544", 0xf}}, kSession},
      // An administrator who elevated through another account: that account
      // is the user, the session is still the one of the desktop.
      {"elevated through another account", L"S-1-5-21-1-2-3-500", {{kSession, kLogon}}, kSession},
      {"no session in the token", kUser, {{L"S-1-1-0", kEnabledMandatory}, {L"S-1-5-11", kEnabledMandatory}}, kUser},
      {"no groups at all", kUser, {}, kUser},
      {"half the logon bits is no logon id", kUser, {{kSession, kEnabledMandatory | 0x80000000u}}, kUser},
      {"the first logon id", kUser, {{kSession, kLogon}, {L"S-1-5-5-0-7", kLogon}}, kSession},
      {"a damaged session SID is passed over", kUser, {{L"S-1-5-5-0-1)(A;;GA;;;WD", kLogon}, {kSession, kLogon}},
       kSession},
      {"a damaged session SID alone falls back", kUser, {{L"", kLogon}}, kUser},
      {"nothing readable", L"", {{L"S-1-5-5--1", kLogon}}, L""},
      {"a damaged user SID", L"S-1-5-21-1)(A;;GA;;;WD", {}, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ChooseRouteRequestClientSid(c.user, c.groups), c.admitted);
  }
}

TEST(RouteRequestPipeSecurity, OnlyAWellFormedSidReachesTheDescriptor) {
  struct Case {
    std::wstring sid;
    std::wstring text;  // empty: no descriptor
  } cases[] = {
      {kSession, L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12018b;;;S-1-5-5-0-181829)S:(ML;;NW;;;LW)"},
      {L"S-1-5-5-0-1)(A;;GA;;;WD", L""},
      {L"S-1-5-5-0-", L""},
      {L"S-1--5", L""},
      {L"WD", L""},
      {L"", L""},
      {L"S-1-5-5-0-" + std::wstring(200, L'1'), L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sid.begin(), c.sid.end()));
    EXPECT_EQ(RouteRequestPipeSecurityFor(c.sid, 0x12018b), c.text);
  }
}

}  // namespace
