#include "bind/bind_places_linux.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include "platform/tick.h"

namespace {

std::string FromEnvironment(const char* name) {
  const char* value = secure_getenv(name);
  return value ? std::string(value) : std::string();
}

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::mutex gTunnelLock;

}  // namespace

std::string BindSocketPath() { return FromEnvironment("QUILLNET_BIND_SOCKET"); }

std::string AppListFilePath() {
  std::string path = FromEnvironment("QUILLNET_BIND_LIST");
  if (!path.empty()) return path;
  // The client keeps its program data in the machine's folder when it may
  // write there, otherwise in the user's.
  const std::string machine = "/var/lib/quillnet/applist.ini";
  if (Exists(machine)) return machine;
  std::string base = FromEnvironment("XDG_DATA_HOME");
  if (base.empty() || base[0] != '/') {
    const std::string home = FromEnvironment("HOME");
    if (home.empty()) return machine;
    base = home + "/.local/share";
  }
  return base + "/quillnet/applist.ini";
}

std::string TunnelRecordPath() {
  std::string path = FromEnvironment("QUILLNET_BIND_STATE");
  return path.empty() ? std::string("/dev/shm/quillnet-bind-tunnel") : path;
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

FileReadResult ReadBoundedFile(const std::string& path, const FileIdentity* known, FileIdentity& identity,
                               std::string& bytes, std::uint64_t maxBytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return FileReadResult::Missing;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    close(fd);
    return FileReadResult::Missing;
  }
  identity = FileIdentity{};
  identity.device = static_cast<std::uint64_t>(st.st_dev);
  identity.file = static_cast<std::uint64_t>(st.st_ino);
  identity.size = static_cast<std::uint64_t>(st.st_size);
  identity.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  identity.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  if (known && *known == identity) {
    close(fd);
    return FileReadResult::Unchanged;
  }
  // A file that grows while we read it stops at the limit all the same.
  bytes.clear();
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > maxBytes) {
      close(fd);
      return FileReadResult::Missing;
    }
  }
  close(fd);
  return FileReadResult::Read;
}

TunnelState CTunnelStateReader::Read() {
  std::lock_guard<std::mutex> hold(gTunnelLock);
  if (!record_) {
    const Tick now = GetTickMs();
    if (tried_ && TickElapsed(now, lastTry_) < 1000) return {};
    tried_ = true;
    lastTry_ = now;
    const int fd = open(TunnelRecordPath().c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return {};
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= static_cast<off_t>(sizeof(BindTunnelRecord))) {
      void* p = mmap(nullptr, sizeof(BindTunnelRecord), PROT_READ, MAP_SHARED, fd, 0);
      if (p != MAP_FAILED) record_ = static_cast<const BindTunnelRecord*>(p);
    }
    close(fd);
    if (!record_) return {};
  }
  return ReadTunnelState(*record_);
}

bool PublishTunnel(bool up, std::int32_t version, std::uint32_t localIp) {
  std::lock_guard<std::mutex> hold(gTunnelLock);
  static BindTunnelRecord* record = nullptr;
  static std::string mappedPath;
  const std::string path = TunnelRecordPath();
  if (record && path != mappedPath) {
    munmap(record, sizeof(BindTunnelRecord));
    record = nullptr;
  }
  if (!record) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return false;
    struct stat st {};
    // Only a plain file of ours: a link or someone else's file is refused.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        ftruncate(fd, sizeof(BindTunnelRecord)) != 0) {
      close(fd);
      return false;
    }
    fchmod(fd, 0644);
    void* p = mmap(nullptr, sizeof(BindTunnelRecord), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) return false;
    record = static_cast<BindTunnelRecord*>(p);
    mappedPath = path;
  }
  if (!up) {
    PublishTunnelDown(*record);
    return true;
  }
  return PublishTunnelUp(*record, version, localIp);
}
