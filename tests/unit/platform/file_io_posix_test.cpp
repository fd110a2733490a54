// Replacing a file on Linux: the modes a write gives, with no umask window.
#ifndef _WIN32
#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fakes/temp_dir.h"

namespace {

mode_t ModeOf(const std::filesystem::path& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(FileIoPosix, ANewFileTakesTheUmaskAndAReplacedOneOnlyItsReadAndWriteBits) {
  struct Case {
    const char* what;
    mode_t umask;
    mode_t before;  // 0: no file yet
    mode_t after;
  } cases[] = {
      {"new, usual umask", 022, 0, 0644},
      {"new, private umask", 077, 0, 0600},
      {"new, group umask", 002, 0, 0664},
      {"replaced private", 022, 0600, 0600},
      {"replaced set-id program", 022, 06755, 0644},
      {"replaced executable", 077, 0700, 0600},
  };
  for (const Case& c : cases) {
    CTempDir dir;
    const std::filesystem::path file = dir.Path() / "doc.ini";
    if (c.before) {
      dir.Write(L"doc.ini", "old");
      ASSERT_EQ(::chmod(file.c_str(), c.before), 0) << c.what;
    }
    const mode_t saved = ::umask(c.umask);
    const bool written = AtomicWriteFile(file.wstring(), "new");
    const mode_t during = ::umask(saved);
    EXPECT_TRUE(written) << c.what;
    EXPECT_EQ(during, c.umask) << c.what << ": the write changed the umask";
    EXPECT_EQ(ModeOf(file), c.after) << c.what;
    EXPECT_EQ(dir.Read(L"doc.ini"), "new") << c.what;
  }
}

}  // namespace
#endif
