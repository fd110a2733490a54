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

namespace {

// Read, not set: umask(0) to learn it would leave a window in which every
// other thread creates files open to all.
mode_t CurrentUmask() {
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status)) {
      unsigned mask = 0;
      if (std::sscanf(line, "Umask: %o", &mask) == 1) {
        std::fclose(status);
        return static_cast<mode_t>(mask & 0777);
      }
    }
    std::fclose(status);
  }
  return 022;
}

}  // namespace

bool AtomicWriteFile(const std::wstring& path, const std::string& bytes) {
  const std::string p = WideToNarrow(path);
  std::string tmp = p + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  // Keep the read and write permissions of the file we replace (never its
  // set-id or execute bits); a new file gets the usual rw-r--r-- less the
  // umask, as open(2) would have given it.
  struct stat old{};
  mode_t mode;
  if (::lstat(p.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    mode = old.st_mode & 0666;
  } else {
    mode = 0666 & ~CurrentUmask();
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

bool ResetFileAttributes(const std::wstring& path) {
  const std::string p = WideToNarrow(path);
  struct stat st{};
  if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR)) return true;
  return ::chmod(p.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}
