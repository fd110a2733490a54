#include "accel/bind_exports.h"
#include "bind/bind_win.h"
// After <windows.h>.
#include <sddl.h>

#include <mutex>
#include <vector>

#include "platform/tick.h"


namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
  return n && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

std::mutex gTunnelLock;

std::wstring ModuleFileName(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::wstring ThisModulePath() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModulePath), &self);
  return ModuleFileName(self);
}

std::wstring ProgramImagePath() { return ModuleFileName(nullptr); }

std::wstring AppListFilePath() {
  // The common application-data folder without loading the shell into
  // every program that makes a socket.
  std::wstring base = Environment(L"ProgramData");
  if (base.empty()) {
    base = Environment(L"ALLUSERSPROFILE");
    if (base.empty()) return {};
    base += L"\\Application Data";
  }
  return base + L"\\Quillnet\\applist.ini";
}

FileReadResult ReadBoundedFile(const std::wstring& path, const FileIdentity* known, FileIdentity& identity,
                               std::string& bytes, std::uint64_t maxBytes) {
  if (path.empty()) return FileReadResult::Missing;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileReadResult::Missing;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(file);
    return FileReadResult::Missing;
  }
  identity = FileIdentity{};
  identity.device = info.dwVolumeSerialNumber;
  identity.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity.modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                                info.ftLastWriteTime.dwLowDateTime);
  if (identity.size > maxBytes) {
    CloseHandle(file);
    return FileReadResult::Missing;
  }
  if (known && *known == identity) {
    CloseHandle(file);
    return FileReadResult::Unchanged;
  }
  bytes.clear();
  char buffer[16384];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    bytes.append(buffer, got);
    if (bytes.size() > maxBytes) {
      CloseHandle(file);
      return FileReadResult::Missing;
    }
  }
  CloseHandle(file);
  return FileReadResult::Read;
}

TunnelState ReadTunnel() {
  static const BindTunnelRecord* record = nullptr;
  static bool tried = false;
  static Tick lastTry = 0;
  std::lock_guard<std::mutex> hold(gTunnelLock);
  if (!record) {
    const Tick now = GetTickMs();
    if (tried && TickElapsed(now, lastTry) < 1000) return {};
    tried = true;
    lastTry = now;
    HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, kBindTunnelSectionName);
    if (!section) return {};
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, sizeof(BindTunnelRecord));
    CloseHandle(section);  // the view keeps the section
    if (!view) return {};
    record = static_cast<const BindTunnelRecord*>(view);
  }
  return ReadTunnelState(*record);
}

bool PublishTunnel(bool up, std::int32_t version, std::uint32_t localIp) {
  static BindTunnelRecord* record = nullptr;
  std::lock_guard<std::mutex> hold(gTunnelLock);
  if (!record) {
    // Everyone may read, only we and the system may write; programs at low
    // integrity may read too.
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;GA;;;SY)(A;;GA;;;OW)(A;;GR;;;WD)S:(ML;;NW;;;LW)",
                                                             SDDL_REVISION_1, &descriptor, nullptr))
      sa.lpSecurityDescriptor = descriptor;
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, descriptor ? &sa : nullptr, PAGE_READWRITE, 0,
                                        sizeof(BindTunnelRecord), kBindTunnelSectionName);
    if (descriptor) LocalFree(descriptor);
    if (!section) return false;
    // The handle stays open for the life of the client: the section lives as
    // long as someone holds it.
    void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, sizeof(BindTunnelRecord));
    if (!view) {
      CloseHandle(section);
      return false;
    }
    record = static_cast<BindTunnelRecord*>(view);
  }
  if (!up) {
    PublishTunnelDown(*record);
    return true;
  }
  return PublishTunnelUp(*record, version, localIp);
}
