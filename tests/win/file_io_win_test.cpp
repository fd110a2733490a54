// File helpers against the real file system: a file someone left read-only,
// hidden or system is ours to replace again after ResetFileAttributes.
#include "platform/file_io.h"

#include <gtest/gtest.h>

#include "fakes/temp_dir.h"
#include "platform/win32.h"

namespace {

TEST(FileIoWin, ResetFileAttributesLetsALeftoverBeReplaced) {
  struct Case {
    const char* name;
    DWORD attributes;
  } cases[] = {
      {"read-only", FILE_ATTRIBUTE_READONLY},
      {"read-only hidden system", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {"hidden", FILE_ATTRIBUTE_HIDDEN},
      {"plain", FILE_ATTRIBUTE_NORMAL},
  };
  CTempDir dir;
  for (const Case& c : cases) {
    const std::wstring path = dir.Write(L"reply.ini", "[VPN]\r\nAuthResult=stale\r\n");
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes)) << c.name;
    EXPECT_TRUE(ResetFileAttributes(path)) << c.name;
    const DWORD after = GetFileAttributesW(path.c_str());
    EXPECT_EQ(after & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u) << c.name;
    EXPECT_TRUE(AtomicWriteFile(path, "fresh")) << c.name;
    EXPECT_EQ(dir.Read(L"reply.ini"), "fresh") << c.name;
    EXPECT_TRUE(RemoveFile(path)) << c.name;
  }
  EXPECT_TRUE(ResetFileAttributes(dir.File(L"missing.ini")));
  EXPECT_TRUE(ResetFileAttributes(dir.File(L"no folder\\missing.ini")));
}

}  // namespace
