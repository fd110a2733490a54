#include "app/shell_launch.h"

#include "app/module_version.h"
#include "app/update_start.h"
#include "platform/win32.h"
#include "platform/text_parse.h"

#include <shellapi.h>
#include <tlhelp32.h>

namespace {

std::wstring LowerAscii(const std::wstring& s) { return ToLowerAscii(std::wstring_view(s)); }

}  // namespace

unsigned BoxIconFlags(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return MB_ICONINFORMATION;
    case BoxIcon::Warning:
      return MB_ICONWARNING;
    case BoxIcon::Question:
      return MB_ICONQUESTION;
    case BoxIcon::Error:
      return MB_ICONERROR;
    case BoxIcon::None:
      break;
  }
  return 0;
}

void ShowClientMessage(void* ownerWindow, const std::wstring& text, BoxIcon icon, const std::wstring& caption) {
  ::MessageBoxW(static_cast<HWND>(ownerWindow), text.c_str(), caption.c_str(), MB_OK | BoxIconFlags(icon));
}

bool AskClientYesNo(void* ownerWindow, const std::wstring& text, BoxIcon icon, bool defaultNo) {
  const UINT type = MB_YESNO | BoxIconFlags(icon) | (defaultNo ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
  return ::MessageBoxW(static_cast<HWND>(ownerWindow), text.c_str(), L"Quillnet", type) == IDYES;
}

bool ShellOpenFile(void* ownerWindow, const std::wstring& file, const std::wstring& parameters) {
  const HINSTANCE result = ::ShellExecuteW(static_cast<HWND>(ownerWindow), L"open", file.c_str(),
                                           parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
  // The shell reports success with a value above 32.
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool CShellUrlLauncher::ShellOpen(const std::wstring& target) { return ShellOpenFile(owner_, target, L""); }

bool CShellUrlLauncher::Run(const std::wstring& program, const std::wstring& parameters) {
  return ShellOpenFile(owner_, program, parameters);
}

void CShellUrlLauncher::ShowMessage(const std::wstring& text, const std::wstring& caption, BoxIcon icon) {
  ShowClientMessage(owner_, text, icon, caption);
}

bool CWinUpdateSwitchPorts::CopyOver(const std::wstring& from, const std::wstring& to) {
  return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

void CWinUpdateSwitchPorts::EndProcessesNamed(const std::wstring& lowerCaseFileName) {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  const DWORD self = ::GetCurrentProcessId();
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self || LowerAscii(entry.szExeFile) != lowerCaseFileName) continue;
    if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      ::TerminateProcess(process, 0);
      // Its file stays locked until it has really gone.
      ::WaitForSingleObject(process, 2000);
      ::CloseHandle(process);
    }
  }
  ::CloseHandle(snapshot);
}

bool CWinUpdateSwitchPorts::Start(const std::wstring& path) {
  // The copy must still be ourselves when it starts: signed by the
  // publisher, and at least this version.
  CModuleVersion own;
  if (!own.LoadVersion(nullptr) || own.FileVersion() == 0) return false;
  return StartVerifiedProgram(path, L"", own.FileVersion() - 1).outcome == UpdateStartResult::Outcome::Started;
}

void CWinUpdateSwitchPorts::Sleep(std::uint32_t ms) { ::Sleep(ms); }

void CWinUpdateSwitchPorts::ShowMessage(const std::wstring& text, BoxIcon icon) {
  ShowClientMessage(nullptr, text, icon);
}
