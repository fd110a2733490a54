#include "app/update_start.h"

#include "platform/win32.h"

#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <string>

namespace {

// A package larger than this is not one of ours (the installer is a few
// megabytes); the download stops at the same size.
constexpr LONGLONG kMaxProgramBytes = 64LL * 1024 * 1024;

// WinVerifyTrust on the open handle, looked up at run time: the system may
// lack it, and under Wine it may say little. Our own check decides; this only
// adds a refusal when the system finds the image itself changed.
long SystemTrust(HANDLE file, const std::wstring& path) {
  HMODULE wintrust = ::LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!wintrust) return -1;
  using VerifyFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
  auto verify = reinterpret_cast<VerifyFn>(reinterpret_cast<void*>(::GetProcAddress(wintrust, "WinVerifyTrust")));
  long result = -1;
  if (verify) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  }
  ::FreeLibrary(wintrust);
  return result;
}

bool ReadAll(HANDLE file, std::string& bytes) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0 || size.QuadPart > kMaxProgramBytes) return false;
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    if (!::ReadFile(file, bytes.data() + done, want, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

}  // namespace

UpdateStartResult StartVerifiedProgram(const std::wstring& path, const std::wstring& arguments,
                                       std::uint64_t versionAbove, const PublisherPin& publisher) {
  UpdateStartResult result;
  // Readers may share it, writers and deleters may not: what we check is
  // what the system maps when it creates the process.
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return result;
  std::string bytes;
  if (!ReadAll(file, bytes)) {
    ::CloseHandle(file);
    result.outcome = UpdateStartResult::Outcome::Refused;
    return result;
  }
  result.verdict = CheckUpdateProgram(bytes, versionAbove, publisher);
  if (result.verdict.ok) {
    result.systemTrust = SystemTrust(file, path);
    if (result.systemTrust == static_cast<long>(TRUST_E_BAD_DIGEST)) {
      result.verdict.ok = false;
      result.verdict.signature = SignatureCheck::DigestMismatch;
    }
  }
  if (!result.verdict.ok) {
    ::CloseHandle(file);
    result.outcome = UpdateStartResult::Outcome::Refused;
    return result;
  }
  std::wstring commandLine = L"\"" + path + L"\"" + arguments;
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &process);
  ::CloseHandle(file);
  if (!started) return result;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  result.outcome = UpdateStartResult::Outcome::Started;
  return result;
}
