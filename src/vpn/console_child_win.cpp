#include "platform/win32.h"
#include "vpn/console_child.h"

#include <vector>

#include "platform/strings.h"

struct CConsoleChild::Impl {
  HANDLE process = nullptr;
  HANDLE output = nullptr;  // our read end of the child's stdout+stderr pipe
  HANDLE input = nullptr;   // our write end of the child's stdin pipe
};

CConsoleChild::CConsoleChild() : impl_(new Impl) {}
CConsoleChild::~CConsoleChild() {
  Terminate();
  Close();
  delete impl_;
}

namespace {

void CloseHandleIf(HANDLE& h) {
  if (h) ::CloseHandle(h);
  h = nullptr;
}

}  // namespace

bool CConsoleChild::Start(const std::wstring& commandLine) {
  Close();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errWrite = nullptr, inRead = nullptr, inWrite = nullptr;
  HANDLE myOut = nullptr, myIn = nullptr;
  const HANDLE self = ::GetCurrentProcess();
  auto fail = [&] {
    for (HANDLE* h : {&outRead, &outWrite, &errWrite, &inRead, &inWrite, &myOut, &myIn}) CloseHandleIf(*h);
    return false;
  };
  // One pipe for standard output and standard error, so that both arrive
  // interleaved as the child wrote them; one for standard input.
  if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return fail();
  if (!::DuplicateHandle(self, outWrite, self, &errWrite, 0, TRUE, DUPLICATE_SAME_ACCESS)) return fail();
  if (!::CreatePipe(&inRead, &inWrite, &inherit, 0)) return fail();
  // Our ends must not leak into the child, or the pipes never break.
  if (!::DuplicateHandle(self, outRead, self, &myOut, 0, FALSE, DUPLICATE_SAME_ACCESS)) return fail();
  if (!::DuplicateHandle(self, inWrite, self, &myIn, 0, FALSE, DUPLICATE_SAME_ACCESS)) return fail();
  CloseHandleIf(outRead);
  CloseHandleIf(inWrite);

  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.StartupInfo.wShowWindow = SW_HIDE;
  si.StartupInfo.hStdOutput = outWrite;
  si.StartupInfo.hStdError = errWrite;
  si.StartupInfo.hStdInput = inRead;
  // The child inherits its three pipe ends and nothing else: without the
  // list every inheritable handle of ours (another thread's pipes, sockets
  // of libraries) would go with it.
  HANDLE inherited[] = {outWrite, errWrite, inRead};
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> attributes(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  if (size == 0 || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return fail();
  const bool listed = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                  sizeof inherited, nullptr, nullptr);
  si.lpAttributeList = list;
  PROCESS_INFORMATION pi{};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  const bool started = listed && ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                                  CREATE_NEW_CONSOLE | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                                  &si.StartupInfo, &pi);
  ::DeleteProcThreadAttributeList(list);
  if (!started) return fail();
  ::CloseHandle(pi.hThread);
  CloseHandleIf(outWrite);
  CloseHandleIf(errWrite);
  CloseHandleIf(inRead);
  impl_->process = pi.hProcess;
  impl_->output = myOut;
  impl_->input = myIn;
  return true;
}

long CConsoleChild::Available() {
  DWORD available = 0;
  if (!impl_->output || !::PeekNamedPipe(impl_->output, nullptr, 0, nullptr, &available, nullptr)) return -1;
  return static_cast<long>(available);
}

long CConsoleChild::Read(char* buffer, std::size_t max) {
  DWORD got = 0;
  if (!impl_->output || !::ReadFile(impl_->output, buffer, static_cast<DWORD>(max), &got, nullptr)) return -1;
  return static_cast<long>(got);
}

CConsoleChild::WaitResult CConsoleChild::Wait(unsigned milliseconds) {
  if (!impl_->process) return WaitResult::Failed;
  switch (::WaitForSingleObject(impl_->process, milliseconds)) {
    case WAIT_TIMEOUT:
      return WaitResult::Timeout;
    case WAIT_OBJECT_0:
      return WaitResult::Exited;
    default:
      return WaitResult::Failed;
  }
}

bool CConsoleChild::Write(const std::string& bytes) {
  if (!impl_->input) return false;
  DWORD wrote = 0;
  return bytes.empty() ||
         (::WriteFile(impl_->input, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
          wrote == bytes.size());
}

// Console programs here are told to exit through their own channels (an event).
bool CConsoleChild::Interrupt() { return false; }

void CConsoleChild::Terminate() {
  if (impl_->process) ::TerminateProcess(impl_->process, 0);
}

void CConsoleChild::Close() {
  CloseHandleIf(impl_->process);
  CloseHandleIf(impl_->output);
  CloseHandleIf(impl_->input);
}
