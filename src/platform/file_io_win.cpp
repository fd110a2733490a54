#include "platform/file_io.h"

#include <atomic>

#include "platform/win32.h"
// After <windows.h>: the system's random generator (RtlGenRandom).
#include <ntsecapi.h>

#include <cstring>

namespace {

// 128 bits from the system's generator, in hex; a counter and the process
// id when it fails, which CREATE_NEW still keeps safe.
std::wstring UnguessableName() {
  unsigned char bits[16] = {};
  static std::atomic<unsigned> counter{0};
  if (!::SystemFunction036(bits, sizeof bits)) {
    const unsigned fallback[2] = {static_cast<unsigned>(::GetCurrentProcessId()), counter++};
    std::memcpy(bits, fallback, sizeof fallback);
  }
  static const wchar_t kHex[] = L"0123456789abcdef";
  std::wstring name;
  for (unsigned char b : bits) {
    name += kHex[b >> 4];
    name += kHex[b & 15];
  }
  return name;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.device = info.dwVolumeSerialNumber;
  id.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  id.modified = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                          info.ftLastWriteTime.dwLowDateTime);
  return id;
}

HANDLE OpenForRead(const std::wstring& path) {
  // Share everything, delete included, so that a writer can replace the
  // file while we hold it; a writer that shares less holds us off briefly.
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 50; ++attempt) {
    h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) break;
    const DWORD err = ::GetLastError();
    if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) break;
    ::Sleep(2);
  }
  return h;
}

}  // namespace

FileReadResult ReadFileIfChanged(const std::wstring& path, const FileIdentity* known, FileIdentity& identity,
                                 std::string& bytes) {
  HANDLE h = OpenForRead(path);
  if (h == INVALID_HANDLE_VALUE) return FileReadResult::Missing;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::CloseHandle(h);
    return FileReadResult::Missing;
  }
  identity = IdentityOf(info);
  if (known && *known == identity) {
    ::CloseHandle(h);
    return FileReadResult::Unchanged;
  }
  bytes.clear();
  bytes.reserve(static_cast<std::size_t>(identity.size));
  char buf[65536];
  bool ok = true;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buf, sizeof buf, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes.append(buf, got);
  }
  ::CloseHandle(h);
  return ok ? FileReadResult::Read : FileReadResult::Missing;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  FileIdentity id;
  return ReadFileIfChanged(path, nullptr, id, bytes) == FileReadResult::Read;
}

bool AtomicWriteFile(const std::wstring& path, const std::string& bytes) {
  // A name nobody can guess, made new: a file planted under it beforehand
  // (to be swapped after our write) makes the create fail instead of being
  // written into.
  std::wstring tmp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 4 && h == INVALID_HANDLE_VALUE; ++attempt) {
    tmp = path + L".~" + UnguessableName() + L".tmp";
    h = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    ok = ::WriteFile(h, bytes.data() + done, chunk, &wrote, nullptr) && wrote == chunk;
    done += wrote;
  }
  ok = ok && ::FlushFileBuffers(h);
  ::CloseHandle(h);
  if (ok) {
    // A reader that opened the old file without delete sharing blocks the
    // replace for a moment; wait for it rather than give up the write.
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (::MoveFileExW(tmp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
      const DWORD err = ::GetLastError();
      if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED && err != ERROR_LOCK_VIOLATION) break;
      ::Sleep(10);
    }
  }
  ::DeleteFileW(tmp.c_str());
  return false;
}

bool FileExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemoveFile(const std::wstring& path) { return ::DeleteFileW(path.c_str()) != 0; }

bool ResetFileAttributes(const std::wstring& path) {
  if (::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) return true;
  const DWORD err = ::GetLastError();
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}
