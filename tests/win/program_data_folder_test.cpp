// The program data folder and the update download folder against the real
// file system's security under Wine: what we make carries our descriptor,
// a weaker folder found there gets it back, and what someone else planted
// is not kept.
#include <gtest/gtest.h>

#include "platform/win32.h"
// After <windows.h>.
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "account/settings.h"
#include "fakes/fake_settings.h"
#include "fakes/temp_dir.h"
#include "platform/file_io.h"

namespace {

constexpr DWORD kAnyWrite = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                            FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct Entry {
  WELL_KNOWN_SID_TYPE who;
  bool write;  // any right to change the folder
  bool read;   // listing and reading
};

// The folder's list as who may do what; fails the test on an entry that
// is not an allow entry for a well-known account of the three.
std::vector<Entry> ListOf(const std::wstring& folder, bool& isProtected, bool& ownedByAdministrators) {
  std::vector<Entry> entries;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD read = GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                           &dacl, nullptr, &sd);
  EXPECT_EQ(read, static_cast<DWORD>(ERROR_SUCCESS));
  if (read != ERROR_SUCCESS) return entries;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  isProtected = (control & SE_DACL_PROTECTED) != 0;
  ownedByAdministrators = owner && IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
  EXPECT_NE(dacl, nullptr) << "no list lets everybody in";
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID sid = &allowed->SidStart;
    Entry e{WinNullSid, (allowed->Mask & kAnyWrite) != 0,
            (allowed->Mask & (FILE_READ_DATA | GENERIC_READ | GENERIC_ALL)) != 0};
    for (WELL_KNOWN_SID_TYPE known : {WinLocalSystemSid, WinBuiltinAdministratorsSid, WinBuiltinUsersSid})
      if (IsWellKnownSid(sid, known)) e.who = known;
    if (e.who == WinNullSid) {
      wchar_t* text = nullptr;
      ConvertSidToStringSidW(sid, &text);
      ADD_FAILURE() << "unexpected entry for " << (text ? text : L"?");
      if (text) LocalFree(text);
    }
    entries.push_back(e);
  }
  LocalFree(sd);
  return entries;
}

void ExpectDescriptor(const std::wstring& folder, bool usersRead, const char* what) {
  bool isProtected = false, byAdministrators = false;
  const std::vector<Entry> entries = ListOf(folder, isProtected, byAdministrators);
  EXPECT_TRUE(isProtected) << what << ": inherits from the common folder";
  EXPECT_TRUE(byAdministrators) << what;
  bool system = false, administrators = false, users = false;
  for (const Entry& e : entries) {
    if (e.who == WinLocalSystemSid) system = e.write && e.read;
    if (e.who == WinBuiltinAdministratorsSid) administrators = e.write && e.read;
    if (e.who == WinBuiltinUsersSid) {
      users = e.read;
      EXPECT_FALSE(e.write) << what << ": users may change it";
    }
  }
  EXPECT_TRUE(system) << what;
  EXPECT_TRUE(administrators) << what;
  EXPECT_EQ(users, usersRead) << what;
}

// A folder as the common folder's inheritance could leave it: everybody
// may do everything, owned by whoever made it.
void MakeWeakFolder(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr));
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), &sa));
  LocalFree(sd);
}

// A file that another account owns, as another user would leave it.
std::wstring Plant(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  DWORD wrote = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
  CloseHandle(h);
  unsigned char guests[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof guests;
  EXPECT_TRUE(CreateWellKnownSid(WinBuiltinGuestsSid, nullptr, guests, &size));
  EXPECT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, guests,
                                  nullptr, nullptr, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  return path;
}

// Wine 8 makes a file's descriptor up from its Unix mode (owner, SYSTEM,
// everyone) and keeps none it is given: there the descriptors cannot be
// checked, and no file can be planted as another account's.
bool FileDescriptorsKept() {
  CTempDir dir;
  const std::wstring folder = (dir.Path() / L"probe").wstring();
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;;FA;;;SY)", SDDL_REVISION_1, &sd, nullptr))
    return false;
  SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
  const bool made = CreateDirectoryW(folder.c_str(), &sa);
  LocalFree(sd);
  bool isProtected = false, byAdministrators = false;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR back = nullptr;
  if (!made || GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                     &owner, nullptr, &dacl, nullptr, &back) != ERROR_SUCCESS)
    return false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(back, &control, &revision);
  isProtected = (control & SE_DACL_PROTECTED) != 0;
  byAdministrators = owner && IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
  const bool kept = isProtected && byAdministrators && dacl && dacl->AceCount == 1;
  LocalFree(back);
  return kept;
}

#define SKIP_WITHOUT_FILE_DESCRIPTORS()                                                                      \
  if (!FileDescriptorsKept())                                                                                 \
  GTEST_SKIP() << "this system keeps no security descriptor given to a file (Wine makes them up from the Unix " \
                  "mode), so the folder's cannot be checked here"

TEST(ProgramDataFolder, IsMadeWithItsOwnDescriptor) {
  SKIP_WITHOUT_FILE_DESCRIPTORS();
  CTempDir dir;
  const std::wstring folder = (dir.Path() / L"Common" / L"Quillnet").wstring();
  CScopedSettingsPlaces places({L"", folder, L"", L""});
  EXPECT_EQ(ProgramDataFolder(), folder + L"\\");
  ExpectDescriptor(folder, true, "made");
  ExpectDescriptor(UpdateDownloadFolder(), false, "the download folder");
  EXPECT_EQ(UpdateDownloadFolder(), folder + L"\\Update\\");
}

TEST(ProgramDataFolder, AWeakerFolderIsRepairedAndWhatOthersPlantedGoes) {
  SKIP_WITHOUT_FILE_DESCRIPTORS();
  CTempDir dir;
  const std::wstring folder = (dir.Path() / L"Quillnet").wstring();
  MakeWeakFolder(folder);
  const std::wstring planted = Plant(folder + L"\\QuillnetAnns.ini", "[Main]\r\nLastFastestHostUrl=http://evil/\r\n");
  ASSERT_TRUE(AtomicWriteFile(folder + L"\\applist.ini", "[C:\\ours.exe]\r\n"));
  CScopedSettingsPlaces places({L"", folder, L"", L""});
  ProgramDataFolder();
  ExpectDescriptor(folder, true, "repaired");
  EXPECT_FALSE(FileExists(planted)) << "another account's file kept";
  EXPECT_TRUE(FileExists(folder + L"\\applist.ini")) << "our own file removed";
}

TEST(ProgramDataFolder, AFilePlantedUnderTheDownloadNameIsNotUsed) {
  SKIP_WITHOUT_FILE_DESCRIPTORS();
  struct Case {
    const char* what;
    bool weakFolder;   // the download folder was there, open to everybody
    bool foreignFile;  // the file belongs to another account
  } cases[] = {
      {"in a weak folder", true, true},
      {"another account's in our folder", false, true},
      {"ours, in a weak folder", true, false},
  };
  for (const Case& c : cases) {
    CTempDir dir;
    const std::wstring folder = (dir.Path() / L"Quillnet").wstring();
    {
      CScopedSettingsPlaces first({L"", folder, L"", L""});
      ProgramDataFolder();
    }
    const std::wstring download = folder + L"\\Update";
    if (c.weakFolder) MakeWeakFolder(download);
    else ASSERT_TRUE(CreateDirectoryW(download.c_str(), nullptr));
    const std::wstring installer = download + L"\\QuillnetInstaller.exe";
    if (c.foreignFile) Plant(installer, "MZ planted");
    else ASSERT_TRUE(AtomicWriteFile(installer, "MZ stale"));
    CScopedSettingsPlaces places({L"", folder, L"", L""});
    EXPECT_EQ(UpdateDownloadFolder(), download + L"\\") << c.what;
    // Our own leftover is the start-up's to delete; the folder keeps it
    // only once nobody else can have written it.
    EXPECT_EQ(FileExists(installer), !c.foreignFile) << c.what;
    ExpectDescriptor(download, false, c.what);
  }
}

TEST(ProgramDataFolder, ALinkInPlaceOfTheFolderIsNotFollowed) {
  // The descriptor would otherwise land on whatever the link names.
  CTempDir dir;
  const std::wstring target = (dir.Path() / L"Elsewhere").wstring();
  ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
  ASSERT_TRUE(AtomicWriteFile(target + L"\\keep.txt", "keep"));
  const std::wstring folder = (dir.Path() / L"Quillnet").wstring();
  if (!CreateSymbolicLinkW(folder.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
    GTEST_SKIP() << "no directory links here (" << GetLastError() << ")";
  CScopedSettingsPlaces places({L"", folder, L"", L""});
  ProgramDataFolder();
  EXPECT_TRUE(FileExists(target + L"\\keep.txt"));
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link is still there";
  if (FileDescriptorsKept()) ExpectDescriptor(folder, true, "made in place of the link");
}

}  // namespace
