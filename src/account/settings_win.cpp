#include "platform/win32.h"
// after windows.h
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "account/folder_security.h"
#include "account/password_seal.h"
#include "account/settings_platform.h"

namespace {

constexpr wchar_t kDefaultUserRoot[] = L"Software\\Quillnet\\Quillnet";
constexpr wchar_t kProtectionDescription[] = L"Quillnet";

class CRegistrySettingsStore : public ISettingsStore {
 public:
  explicit CRegistrySettingsStore(std::wstring root) : root_(std::move(root)) {}

  std::optional<std::int32_t> ReadInt(std::wstring_view section, std::wstring_view name) override {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Query(section, name, type, data) || type != REG_DWORD || data.size() != sizeof(DWORD)) return std::nullopt;
    DWORD value = 0;
    std::memcpy(&value, data.data(), sizeof value);
    return static_cast<std::int32_t>(value);
  }

  std::optional<std::wstring> ReadString(std::wstring_view section, std::wstring_view name) override {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Query(section, name, type, data) || type != REG_SZ) return std::nullopt;
    // Values written by others need not end with a NUL nor have an even
    // length; take the whole characters up to the first NUL.
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    text.resize(std::wcslen(text.c_str()));
    return text;
  }

  std::optional<ByteString> ReadBinary(std::wstring_view section, std::wstring_view name) override {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!Query(section, name, type, data) || type != REG_BINARY) return std::nullopt;
    return ByteString(data.begin(), data.end());
  }

  void WriteInt(std::wstring_view section, std::wstring_view name, std::int32_t value) override {
    const DWORD dword = static_cast<DWORD>(value);
    Set(section, name, REG_DWORD, &dword, sizeof dword);
  }

  void WriteString(std::wstring_view section, std::wstring_view name, std::wstring_view value) override {
    const std::wstring text(value);
    Set(section, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }

  void WriteBinary(std::wstring_view section, std::wstring_view name, const ByteString& value) override {
    Set(section, name, REG_BINARY, value.data(), value.size());
  }

  void DeleteValue(std::wstring_view section, std::wstring_view name) override {
    HKEY key = OpenSection(section);
    if (!key) return;
    RegDeleteValueW(key, std::wstring(name).c_str());
    RegCloseKey(key);
  }

  void DeleteSection(std::wstring_view section) override {
    HKEY root = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, root_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr) !=
        ERROR_SUCCESS) {
      return;
    }
    // An empty section name would name the root itself.
    if (!section.empty()) RegDeleteTreeW(root, std::wstring(section).c_str());
    RegCloseKey(root);
  }

 private:
  // Opening a section makes the root and the section key when missing.
  HKEY OpenSection(std::wstring_view section) const {
    const std::wstring path = section.empty() ? root_ : root_ + L"\\" + std::wstring(section);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
      return nullptr;
    }
    return key;
  }

  bool Query(std::wstring_view section, std::wstring_view name, DWORD& type, std::vector<BYTE>& data) const {
    HKEY key = OpenSection(section);
    if (!key) return false;
    const std::wstring valueName(name);
    LSTATUS status = ERROR_MORE_DATA;
    // The value can grow between the size query and the read.
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
      DWORD size = 0;
      status = RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &size);
      if (status != ERROR_SUCCESS) break;
      data.assign(size, 0);
      status = RegQueryValueExW(key, valueName.c_str(), nullptr, &type, data.empty() ? nullptr : data.data(), &size);
      if (status == ERROR_SUCCESS) data.resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
  }

  void Set(std::wstring_view section, std::wstring_view name, DWORD type, const void* bytes, std::size_t size) const {
    HKEY key = OpenSection(section);
    if (!key) return;
    RegSetValueExW(key, std::wstring(name).c_str(), 0, type, static_cast<const BYTE*>(bytes),
                   static_cast<DWORD>(size));
    RegCloseKey(key);
  }

  std::wstring root_;
};

class CDataProtectionProtector : public IPasswordProtector {
 public:
  ByteString Protect(std::wstring_view password) override {
    ByteString plain = PasswordToUtf16Bytes(password);
    DATA_BLOB in{static_cast<DWORD>(plain.size()), plain.data()};
    DATA_BLOB entropy{0, nullptr};
    DATA_BLOB out{0, nullptr};
    ByteString result;
    if (CryptProtectData(&in, kProtectionDescription, &entropy, nullptr, nullptr, CRYPTPROTECT_AUDIT, &out)) {
      result.assign(out.pbData, out.pbData + out.cbData);
      LocalFree(out.pbData);
    }
    SecureZeroMemory(plain.data(), plain.size());
    return result;
  }

  std::optional<std::wstring> Unprotect(const ByteString& protectedBytes) override {
    ByteString copy(protectedBytes);
    DATA_BLOB in{static_cast<DWORD>(copy.size()), copy.data()};
    DATA_BLOB entropy{0, nullptr};
    DATA_BLOB out{0, nullptr};
    LPWSTR description = nullptr;
    if (!CryptUnprotectData(&in, &description, &entropy, nullptr, nullptr, CRYPTPROTECT_AUDIT, &out)) {
      return std::nullopt;
    }
    // Bounded by the output's size: damaged data need not end with a NUL.
    auto text = PasswordFromUtf16Bytes(out.pbData, out.cbData & ~DWORD{1});
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    if (description) LocalFree(description);
    return text;
  }
};

std::wstring KnownFolder(int csidl) {
  wchar_t buf[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK || !buf[0]) return {};
  std::wstring path(buf);
  if (path.back() != L'\\') path += L'\\';
  return path;
}

}  // namespace

std::shared_ptr<ISettingsStore> MakePlatformSettingsStore(const std::wstring& userRoot) {
  return std::make_shared<CRegistrySettingsStore>(userRoot.empty() ? std::wstring(kDefaultUserRoot) : userRoot);
}

std::shared_ptr<IPasswordProtector> MakePlatformPasswordProtector(const std::wstring&) {
  return std::make_shared<CDataProtectionProtector>();
}

std::wstring PlatformExecutablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::wstring(buf.data(), n);
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

std::wstring PlatformProgramDataFolder() {
  std::wstring base = KnownFolder(CSIDL_COMMON_APPDATA);
  // Without the common folder, keep the documents per user rather than in
  // whatever the working folder happens to be.
  if (base.empty()) base = KnownFolder(CSIDL_LOCAL_APPDATA);
  return base.empty() ? std::wstring() : base + L"Quillnet\\";
}

bool CreateFolderWithParents(const std::wstring& folder) {
  std::wstring path = folder;
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  const int rc = SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
  if (rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  return false;
}

namespace {

// Nothing inherited from the common folder, where every user may create.
constexpr wchar_t kDataFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
constexpr wchar_t kDownloadFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

std::wstring WithoutSeparator(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

class CDescriptor {
 public:
  explicit CDescriptor(const wchar_t* text) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &sd_, nullptr)) sd_ = nullptr;
  }
  ~CDescriptor() {
    if (sd_) LocalFree(sd_);
  }
  CDescriptor(const CDescriptor&) = delete;
  CDescriptor& operator=(const CDescriptor&) = delete;
  PSECURITY_DESCRIPTOR Get() const { return sd_; }
  PSID Owner() const {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return sd_ && GetSecurityDescriptorOwner(sd_, &owner, &defaulted) ? owner : nullptr;
  }
  PACL Dacl() const {
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    return sd_ && GetSecurityDescriptorDacl(sd_, &present, &dacl, &defaulted) && present ? dacl : nullptr;
  }

 private:
  PSECURITY_DESCRIPTOR sd_ = nullptr;
};

bool IsPlainFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether the owner of `path` is SYSTEM, the administrators or this
// process's user: anything else in our folder was put there by someone else.
bool OwnedByUs(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                            nullptr, &sd) != ERROR_SUCCESS)
    return false;
  bool ours = owner && (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  HANDLE token = nullptr;
  if (!ours && owner && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    unsigned char buffer[256];
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
      ours = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) != FALSE;
    CloseHandle(token);
  }
  LocalFree(sd);
  return ours;
}

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return;
  }
  // A link is removed, never followed.
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
  }
  RemoveDirectoryW(path.c_str());
}

// Removes what in `folder` is not ours, and every link.
void SweepFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> doomed;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !OwnedByUs(path)) doomed.push_back(path);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  for (const std::wstring& path : doomed) RemoveTree(path);
}

// Makes `folder` with the descriptor, or puts the descriptor on the folder
// that is there. A link in its place (a junction to a system folder, say)
// is removed first: the descriptor is never applied through it.
bool SecureFolder(const std::wstring& folder, const wchar_t* text) {
  const std::wstring path = WithoutSeparator(folder);
  const std::size_t cut = path.find_last_of(L"\\/");
  if (cut != std::wstring::npos && cut > 2 && !CreateFolderWithParents(path.substr(0, cut))) return false;
  CDescriptor descriptor(text);
  if (!descriptor.Get()) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && !IsPlainFolder(path)) RemoveTree(path);
  SECURITY_ATTRIBUTES sa{sizeof sa, descriptor.Get(), FALSE};
  if (CreateDirectoryW(path.c_str(), &sa)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS || !IsPlainFolder(path)) return false;
  // Found: the list first (we may change it as its owner or as an
  // administrator), then the owner, so that a planting owner loses the
  // rights an owner keeps whatever the list says.
  PSECURITY_DESCRIPTOR current = nullptr;
  const bool holds = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                           nullptr, nullptr, &current) == ERROR_SUCCESS &&
                     FolderSecurityHolds(current, text);
  if (current) LocalFree(current);
  if (holds) {
    SweepFolder(path);
    return true;
  }
  const DWORD listed = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                             DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                             nullptr, descriptor.Dacl(), nullptr);
  SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                        descriptor.Owner(), nullptr, nullptr, nullptr);
  SweepFolder(path);
  return listed == ERROR_SUCCESS;
}

// The entry of `sid` in `acl` that allows, or nullptr.
const ACCESS_ALLOWED_ACE* AllowedEntryFor(PACL acl, PSID sid) {
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(acl, i, &ace)) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(const_cast<DWORD*>(&allowed->SidStart), sid))
      return allowed;
  }
  return nullptr;
}

}  // namespace

const wchar_t* DataFolderSecurityText() { return kDataFolderSecurity; }

const wchar_t* DownloadFolderSecurityText() { return kDownloadFolderSecurity; }

bool FolderSecurityHolds(const void* descriptor, const wchar_t* intendedText) {
  const CDescriptor intended(intendedText);
  auto* actual = const_cast<void*>(descriptor);
  if (!actual || !intended.Get() || !IsValidSecurityDescriptor(actual)) return false;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(actual, &owner, &defaulted) || !owner || !EqualSid(owner, intended.Owner()))
    return false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!GetSecurityDescriptorControl(actual, &control, &revision) || !(control & SE_DACL_PROTECTED)) return false;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  // No list at all lets everybody in.
  if (!GetSecurityDescriptorDacl(actual, &present, &dacl, &defaulted) || !present || !dacl) return false;
  const PACL wanted = intended.Dacl();
  constexpr BYTE kInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  for (DWORD i = 0; wanted && i < wanted->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(wanted, i, &ace)) return false;
    const auto* want = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    const ACCESS_ALLOWED_ACE* have = AllowedEntryFor(dacl, const_cast<DWORD*>(&want->SidStart));
    if (!have || (have->Mask & want->Mask) != want->Mask ||
        (have->Header.AceFlags & kInheritance) != (want->Header.AceFlags & kInheritance))
      return false;
  }
  // Denying is never too much; allowing anyone more than the list gives is.
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    const auto* have = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    const ACCESS_ALLOWED_ACE* want = AllowedEntryFor(wanted, const_cast<DWORD*>(&have->SidStart));
    if (!want || (have->Mask & ~want->Mask) != 0) return false;
  }
  return true;
}

bool SecureProgramDataFolder(const std::wstring& folder) { return SecureFolder(folder, kDataFolderSecurity); }

bool SecureDownloadFolder(const std::wstring& folder) { return SecureFolder(folder, kDownloadFolderSecurity); }
