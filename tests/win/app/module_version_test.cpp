#include "app/module_version.h"

#include <gtest/gtest.h>

#include "platform/win32.h"

#include "app/shell_launch.h"
#include "app/startup_win.h"
#include "fakes/temp_dir.h"

namespace {

TEST(ModuleVersion, ReadsALoadedModulesResourceAndNothingElse) {
  CModuleVersion version;
  EXPECT_EQ(version.GetValue(L"FileVersion"), L"") << "nothing loaded yet";
  EXPECT_EQ(version.FileVersion(), 0u);

  // A system module that every process has loaded carries a version resource.
  ASSERT_TRUE(version.LoadVersion(L"kernel32.dll"));
  EXPECT_NE(version.FileVersion(), 0u);
  EXPECT_FALSE(version.GetValue(L"FileVersion").empty());
  EXPECT_EQ(version.GetValue(L"NoSuchValue"), L"");

  // A module that is not loaded fails and leaves nothing behind.
  EXPECT_FALSE(version.LoadVersion(L"quillnet-not-loaded.dll"));
  EXPECT_EQ(version.FileVersion(), 0u);
  EXPECT_EQ(version.GetValue(L"FileVersion"), L"");
}

TEST(UpdateSwitchPorts, CopyReplacesTheTarget) {
  CTempDir dir;
  const std::wstring from = dir.Write(L"new.exe", "new build");
  const std::wstring to = dir.Write(L"old.exe", "old build, longer than the new one");
  CWinUpdateSwitchPorts ports;
  ASSERT_TRUE(ports.CopyOver(from, to));
  EXPECT_EQ(dir.Read(L"old.exe"), "new build");
  EXPECT_FALSE(ports.CopyOver(dir.File(L"missing.exe"), to));
}

TEST(StartupWin, MutexSeenByTheSecondCreator) {
  // A name of the test's own: a client running in the same prefix keeps its mutex.
  const std::wstring name = L"Local\\QuillnetTestSingle-" + std::to_wstring(::GetCurrentProcessId());
  bool existed = true;
  void* first = CreateSingleInstanceMutex(name.c_str(), existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  void* second = CreateSingleInstanceMutex(name.c_str(), existed);
  EXPECT_TRUE(existed);
  ::CloseHandle(second);
  ::CloseHandle(first);
}

}  // namespace
