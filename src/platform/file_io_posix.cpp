#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/strings.h"

namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.file = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return id;
}

bool ReadAll(int fd, std::string& bytes, std::size_t hint) {
  bytes.clear();
  bytes.reserve(hint);
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

FileReadResult ReadFileIfChanged(const std::wstring& path, const FileIdentity* known, FileIdentity& identity,
                                 std::string& bytes) {
  const std::string p = WideToNarrow(path);
  const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FileReadResult::Missing;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return FileReadResult::Missing;
  }
  identity = IdentityOf(st);
  if (known && *known == identity) {
    ::close(fd);
    return FileReadResult::Unchanged;
  }
  const bool ok = ReadAll(fd, bytes, static_cast<std::size_t>(st.st_size));
  ::close(fd);
  return ok ? FileReadResult::Read : FileReadResult::Missing;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  FileIdentity id;
  return ReadFileIfChanged(path, nullptr, id, bytes) == FileReadResult::Read;
}

bool AtomicWriteFile(const std::wstring& path, const std::string& bytes) {
  const std::string p = WideToNarrow(path);
  std::string tmp = p + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  // Keep the permissions of the file we replace; a new file gets the usual
  // rw-r--r-- less the umask, as open(2) would have given it.
  struct stat old{};
  mode_t mode;
  if (::stat(p.c_str(), &old) == 0) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(tmp.c_str(), p.c_str()) == 0) return true;
  ::unlink(tmp.c_str());
  return false;
}

bool FileExists(const std::wstring& path) {
  struct stat st{};
  return ::stat(WideToNarrow(path).c_str(), &st) == 0;
}

bool RemoveFile(const std::wstring& path) { return ::unlink(WideToNarrow(path).c_str()) == 0; }
