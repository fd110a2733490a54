// The descriptors the client builds, read back entry by entry from memory:
// Wine keeps no descriptor on a file, but its security functions do build
// and read them. The data folder's and the download folder's lists, the
// repair decision against weaker ones, and the route request pipe's list.
#include <gtest/gtest.h>

#include "platform/win32.h"
// After <windows.h>.
#include <sddl.h>

#include <string>
#include <vector>

#include "accel/route_request_pipe_server.h"
#include "account/folder_security.h"

namespace {

class CBuilt {
 public:
  explicit CBuilt(const std::wstring& text) {
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &sd_, nullptr))
      sd_ = nullptr;
  }
  ~CBuilt() {
    if (sd_) ::LocalFree(sd_);
  }
  CBuilt(const CBuilt&) = delete;
  CBuilt& operator=(const CBuilt&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return sd_; }

 private:
  PSECURITY_DESCRIPTOR sd_ = nullptr;
};

struct Ace {
  std::wstring who;  // the SID as text
  BYTE type;
  BYTE flags;
  DWORD mask;
};

std::wstring SidString(PSID sid) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring out = text;
  ::LocalFree(text);
  return out;
}

std::vector<Ace> AcesOf(PACL acl) {
  std::vector<Ace> out;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(acl, i, &ace)) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    out.push_back({SidString(const_cast<DWORD*>(&allowed->SidStart)), allowed->Header.AceType,
                   allowed->Header.AceFlags, allowed->Mask});
  }
  return out;
}

constexpr DWORD kAnyWrite = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                            FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

TEST(FolderSecurity, TheFoldersDescriptorsAreOwnedProtectedAndListExactlyTheirEntries) {
  struct Case {
    const char* name;
    const wchar_t* text;
    bool usersRead;  // the data folder: users list and read; the download folder: nobody
  } cases[] = {
      {"data folder", DataFolderSecurityText(), true},
      {"download folder", DownloadFolderSecurityText(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CBuilt sd(c.text);
    ASSERT_NE(sd.Get(), nullptr) << ::GetLastError();
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorOwner(sd.Get(), &owner, &defaulted));
    EXPECT_EQ(SidString(owner), L"S-1-5-32-544") << "not owned by the administrators";
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(::GetSecurityDescriptorControl(sd.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the common folder's entries would be inherited";
    PACL dacl = nullptr;
    BOOL present = FALSE;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(sd.Get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl) << "no list lets everybody in";
    const std::vector<Ace> aces = AcesOf(dacl);
    ASSERT_EQ(aces.size(), c.usersRead ? 3u : 2u);
    for (const Ace& ace : aces) {
      SCOPED_TRACE(std::string(ace.who.begin(), ace.who.end()));
      EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
      EXPECT_EQ(ace.flags & kInherited, kInherited) << "files made inside would not get the list";
      if (ace.who == L"S-1-5-18" || ace.who == L"S-1-5-32-544") {
        EXPECT_EQ(ace.mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
      } else {
        EXPECT_EQ(ace.who, L"S-1-5-32-545") << "an entry for someone else";
        EXPECT_TRUE(c.usersRead);
        EXPECT_EQ(ace.mask & kAnyWrite, 0u) << "users may change the folder";
        EXPECT_EQ(ace.mask & FILE_GENERIC_READ, static_cast<DWORD>(FILE_GENERIC_READ));
      }
    }
  }
}

TEST(FolderSecurity, AWeakerDescriptorIsRepairedAndOursIsKept) {
  const std::wstring ours = DataFolderSecurityText();
  const std::wstring entries = L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
  struct Case {
    const char* name;
    std::wstring found;
    bool holds;
  } cases[] = {
      {"ours", ours, true},
      {"ours, the entries in another order", L"O:BAD:P(A;OICI;FRFX;;;BU)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
      {"ours and a deny entry", L"O:BAD:P" + entries + L"(D;OICI;FW;;;WD)", true},
      {"inherited from the common folder", L"O:BAD:" + entries, false},
      {"owned by a user", L"O:BUD:P" + entries, false},
      {"owned by SYSTEM", L"O:SYD:P" + entries, false},
      {"users may write", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)", false},
      {"users may add files", L"O:BAD:P" + entries + L"(A;CI;0x2;;;BU)", false},
      {"everybody may read", L"O:BAD:P" + entries + L"(A;OICI;FR;;;WD)", false},
      {"administrators missing", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FRFX;;;BU)", false},
      {"administrators read only", L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FR;;;BA)(A;OICI;FRFX;;;BU)", false},
      {"not inherited by files", L"O:BAD:P(A;CI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)", false},
      {"no list at all", L"O:BA", false},
      {"an empty list", L"O:BAD:P", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CBuilt sd(c.found);
    ASSERT_NE(sd.Get(), nullptr) << ::GetLastError();
    EXPECT_EQ(FolderSecurityHolds(sd.Get(), ours.c_str()), c.holds);
  }
  EXPECT_FALSE(FolderSecurityHolds(nullptr, ours.c_str()));
  // The download folder's list is stricter: users reading it is too much.
  CBuilt dataList(ours);
  EXPECT_FALSE(FolderSecurityHolds(dataList.Get(), DownloadFolderSecurityText()));
}

TEST(PipeSecurityText, ThePipesDescriptorAdmitsSystemAdministratorsAndOneSessionWithoutServing) {
  const std::wstring text = RouteRequestPipeSecurity();
  ASSERT_FALSE(text.empty());
  CBuilt sd(text);
  ASSERT_NE(sd.Get(), nullptr) << ::GetLastError();
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(sd.Get(), &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(::GetSecurityDescriptorDacl(sd.Get(), &present, &dacl, &defaulted));
  ASSERT_TRUE(present && dacl);
  const std::vector<Ace> aces = AcesOf(dacl);
  ASSERT_EQ(aces.size(), 3u);
  int clients = 0;
  for (const Ace& ace : aces) {
    SCOPED_TRACE(std::string(ace.who.begin(), ace.who.end()));
    EXPECT_EQ(ace.type, ACCESS_ALLOWED_ACE_TYPE);
    if (ace.who == L"S-1-5-18" || ace.who == L"S-1-5-32-544") continue;
    ++clients;
    EXPECT_NE(ace.who, L"S-1-1-0") << "everybody";
    EXPECT_NE(ace.who, L"S-1-5-32-545") << "every user";
    EXPECT_EQ(ace.mask & FILE_CREATE_PIPE_INSTANCE, 0u) << "the client could serve in our place";
    EXPECT_EQ(ace.mask & (WRITE_DAC | WRITE_OWNER | GENERIC_ALL), 0u);
    EXPECT_EQ(ace.mask & (FILE_READ_DATA | FILE_WRITE_DATA), static_cast<DWORD>(FILE_READ_DATA | FILE_WRITE_DATA));
  }
  EXPECT_EQ(clients, 1);
  // Sandboxed programs of the session reach it: a low label that only
  // keeps them from writing up.
  PACL sacl = nullptr;
  ASSERT_TRUE(::GetSecurityDescriptorSacl(sd.Get(), &present, &sacl, &defaulted));
  ASSERT_TRUE(present && sacl);
  const std::vector<Ace> labels = AcesOf(sacl);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].type, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  EXPECT_EQ(labels[0].who, L"S-1-16-4096");
}

}  // namespace
