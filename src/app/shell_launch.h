// The Win32 side of opening pages and files and of the "/update" loop.
#pragma once
#ifdef _WIN32
#include <string>

#include "app/chrome.h"
#include "app/startup.h"

// The message box style bits of an icon.
unsigned BoxIconFlags(BoxIcon icon);
// Message boxes of the client: caption "Quillnet" unless given.
void ShowClientMessage(void* ownerWindow, const std::wstring& text, BoxIcon icon,
                       const std::wstring& caption = L"Quillnet");
// A Yes/No question of the client; true on Yes. `defaultNo` makes No the
// default button.
bool AskClientYesNo(void* ownerWindow, const std::wstring& text, BoxIcon icon, bool defaultNo);

// The shell's "open"; `parameters` may be empty.
bool ShellOpenFile(void* ownerWindow, const std::wstring& file, const std::wstring& parameters);

class CShellUrlLauncher : public IUrlLauncher {
 public:
  explicit CShellUrlLauncher(void* ownerWindow) : owner_(ownerWindow) {}
  bool ShellOpen(const std::wstring& target) override;
  bool Run(const std::wstring& program, const std::wstring& parameters) override;
  void ShowMessage(const std::wstring& text, const std::wstring& caption, BoxIcon icon) override;

 private:
  void* owner_;
};

class CWinUpdateSwitchPorts : public IUpdateSwitchPorts {
 public:
  bool CopyOver(const std::wstring& from, const std::wstring& to) override;
  void EndProcessesNamed(const std::wstring& lowerCaseFileName) override;
  bool Start(const std::wstring& path) override;
  void Sleep(std::uint32_t ms) override;
  void ShowMessage(const std::wstring& text, BoxIcon icon) override;
};
#endif
