// OpenSSL reads a configuration at its first start, and a configuration can
// load a library. The client runs as administrator, so no configuration may
// reach it: neither one named by OPENSSL_CONF nor openssl.cnf in the folder
// the library was built with, which on Windows ("\var\cache\...") any user
// may create. A planted library leaves a marker when it is loaded.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// Runs the child in `folder` (a program's current folder decides where a
// rooted path like "/var/cache/..." lands); its standard output, or "" on failure.
std::string RunChild(const std::wstring& mode, const fs::path& folder, DWORD* exitCode) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "";
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdOutput = writeEnd;
  start.hStdError = writeEnd;
  start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  std::wstring line = L"\"" + fs::path(QUILLNET_TLS_START_CHILD).wstring() + L"\" " + mode;
  PROCESS_INFORMATION child{};
  const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        folder.wstring().c_str(), &start, &child);
  ::CloseHandle(writeEnd);
  std::string out;
  if (started) {
    char buffer[512];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got) out.append(buffer, got);
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::GetExitCodeProcess(child.hProcess, exitCode);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
  }
  ::CloseHandle(readEnd);
  return out;
}

std::string EscapedForConfiguration(const fs::path& path) {
  std::string out;
  for (const char ch : path.string()) {
    if (ch == '\\') out += "\\\\";
    else out += ch;
  }
  return out;
}

void WriteConfiguration(const fs::path& file, const fs::path& library) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "openssl_conf = planted_init\n[planted_init]\nengines = planted_engines\n"
                      << "[planted_engines]\nplanted = planted_engine\n[planted_engine]\n"
                      << "dynamic_path = " << EscapedForConfiguration(library) << "\n";
}

TEST(TlsConfiguration, NoPlantedConfigurationReachesTheClient) {
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const fs::path work = fs::path(temp) / (L"quillnet-tls-config-" + std::to_wstring(::GetCurrentProcessId()));
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path library = work / L"planted_engine.dll";
  fs::copy_file(QUILLNET_PLANTED_ENGINE, library);
  const fs::path marker = library.wstring() + L".loaded";

  // The folder the library was built with, as a program whose current
  // folder is on the system drive finds it. The test makes what is missing
  // of it and takes that away again.
  DWORD code = 1;
  const fs::path root = fs::path(temp).root_path();
  std::string built = RunChild(L"folder", root, &code);
  ASSERT_EQ(code, 0u) << built;
  while (!built.empty() && (built.back() == '\n' || built.back() == '\r')) built.pop_back();
  const fs::path builtFolder = fs::path(built).make_preferred();
  ASSERT_TRUE(builtFolder.is_absolute()) << built;
  ASSERT_FALSE(fs::exists(builtFolder)) << builtFolder << " exists already; the test would not remove it";
  fs::path builtTop = builtFolder;
  while (!fs::exists(builtTop.parent_path())) builtTop = builtTop.parent_path();

  const struct {
    const char* where;
    const wchar_t* mode;
    bool loaded;
  } cases[] = {
      {"OPENSSL_CONF", L"bare", true},   {"OPENSSL_CONF", L"client", false},
      {"built-in folder", L"bare", true}, {"built-in folder", L"client", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.where << " " << fs::path(c.mode).string());
    fs::remove(marker);
    const bool named = std::string(c.where) == "OPENSSL_CONF";
    if (named) {
      WriteConfiguration(work / L"openssl.cnf", library);
      ::SetEnvironmentVariableW(L"OPENSSL_CONF", (work / L"openssl.cnf").wstring().c_str());
    } else {
      WriteConfiguration(builtFolder / L"openssl.cnf", library);
    }
    const std::string out = RunChild(c.mode, root, &code);
    ::SetEnvironmentVariableW(L"OPENSSL_CONF", nullptr);
    if (!named) fs::remove_all(builtTop);
    EXPECT_EQ(code, 0u) << out;
    EXPECT_EQ(fs::exists(marker), c.loaded) << out;
  }
  fs::remove_all(work);
}

}  // namespace
