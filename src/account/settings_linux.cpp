#include "account/settings_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <openssl/rand.h>

#include "account/password_seal.h"
#include "account/settings_file.h"
#include "account/settings_platform.h"
#include "platform/file_io.h"
#include "platform/strings.h"

namespace {

std::string HomeFolder() {
  // Root's own home, never the one sudo may have kept from the user: what
  // root reads from there must be root's.
  if (::geteuid() != 0)
    if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
      found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return {};
}

// $VAR when it is an absolute path (the XDG rule), else ~/fallback.
std::string XdgFolder(const char* variable, const char* fallback) {
  if (::geteuid() != 0)
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/" + fallback;
}

bool MakeFolders(const std::string& path, mode_t mode) {
  if (path.empty()) return false;
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty() || partial == "/") continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAllTo(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A temporary file beside `path`, readable by its owner only, holding bytes.
// Returns its name, or empty on failure (and then nothing is left behind).
std::string WritePrivateTemp(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return {};
  bool ok = ::fchmod(fd, 0600) == 0 && WriteAllTo(fd, bytes) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(tmp.c_str());
    return {};
  }
  return tmp;
}

// Replaces the file as one step; old content or new, never a mix.
bool WritePrivateFile(const std::string& path, const std::string& bytes) {
  const std::string tmp = WritePrivateTemp(path, bytes);
  if (tmp.empty()) return false;
  if (::rename(tmp.c_str(), path.c_str()) == 0) return true;
  ::unlink(tmp.c_str());
  return false;
}

std::string FolderOf(const std::wstring& userRoot) {
  std::string folder = userRoot.empty() ? WideToNarrow(DefaultUserSettingsFolder()) : WideToNarrow(userRoot);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

class CFileSettingsStore : public ISettingsStore {
 public:
  explicit CFileSettingsStore(std::string folder)
      : folder_(std::move(folder)), path_(folder_.empty() ? std::string() : folder_ + WideToNarrow(kSettingsFileName)) {}

  std::optional<std::int32_t> ReadInt(std::wstring_view section, std::wstring_view name) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto file = Load();
    return file ? file->ReadInt(section, name) : std::nullopt;
  }
  std::optional<std::wstring> ReadString(std::wstring_view section, std::wstring_view name) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto file = Load();
    return file ? file->ReadString(section, name) : std::nullopt;
  }
  std::optional<ByteString> ReadBinary(std::wstring_view section, std::wstring_view name) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto file = Load();
    return file ? file->ReadBinary(section, name) : std::nullopt;
  }
  void WriteInt(std::wstring_view section, std::wstring_view name, std::int32_t value) override {
    Change([&](CSettingsFile& f) { f.WriteInt(section, name, value); return true; });
  }
  void WriteString(std::wstring_view section, std::wstring_view name, std::wstring_view value) override {
    Change([&](CSettingsFile& f) { f.WriteString(section, name, value); return true; });
  }
  void WriteBinary(std::wstring_view section, std::wstring_view name, const ByteString& value) override {
    Change([&](CSettingsFile& f) { f.WriteBinary(section, name, value); return true; });
  }
  void DeleteValue(std::wstring_view section, std::wstring_view name) override {
    Change([&](CSettingsFile& f) { return f.DeleteValue(section, name); });
  }
  void DeleteSection(std::wstring_view section) override {
    Change([&](CSettingsFile& f) { return f.DeleteSection(section); });
  }

 private:
  // Nothing when the file exists but cannot be read: then no write may
  // replace it with a file holding only the one new value.
  std::optional<CSettingsFile> Load() const {
    if (path_.empty()) return std::nullopt;
    std::string bytes;
    const std::wstring wide = NarrowToWide(path_);
    if (ReadWholeFile(wide, bytes)) return CSettingsFile::Parse(bytes);
    struct stat st{};
    if (::lstat(path_.c_str(), &st) == 0 || errno != ENOENT) return std::nullopt;
    return CSettingsFile{};
  }

  template <typename F>
  void Change(F&& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto file = Load();
    if (!file || !change(*file)) return;
    if (!MakeFolders(folder_.substr(0, folder_.size() - 1), 0700)) return;
    WritePrivateFile(path_, file->Format());
  }

  std::mutex mutex_;
  std::string folder_;
  std::string path_;
};

class CSealedPasswordProtector : public IPasswordProtector {
 public:
  explicit CSealedPasswordProtector(std::string folder)
      : folder_(std::move(folder)),
        path_(folder_.empty() ? std::string() : folder_ + WideToNarrow(kPasswordKeyFileName)) {}

  ByteString Protect(std::wstring_view password) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto key = LoadKey(true);
    return key ? SealPassword(*key, password) : ByteString{};
  }

  std::optional<std::wstring> Unprotect(const ByteString& protectedBytes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto key = LoadKey(false);
    return key ? OpenSealedPassword(*key, protectedBytes) : std::nullopt;
  }

 private:
  enum class KeyRead { Ok, Missing, Malformed, Unreadable };

  KeyRead ReadKey(ByteString& key) const {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno == ENOENT ? KeyRead::Missing : KeyRead::Unreadable;
    struct stat st{};
    KeyRead result = KeyRead::Unreadable;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      if (st.st_size != static_cast<off_t>(kPasswordKeySize)) {
        result = KeyRead::Malformed;
      } else {
        key.assign(kPasswordKeySize, 0);
        std::size_t done = 0;
        while (done < key.size()) {
          const ssize_t n = ::read(fd, key.data() + done, key.size() - done);
          if (n < 0 && errno == EINTR) continue;
          if (n <= 0) break;
          done += static_cast<std::size_t>(n);
        }
        result = done == key.size() ? KeyRead::Ok : KeyRead::Unreadable;
        // A key others can read protects nothing; take their access away.
        if (result == KeyRead::Ok && (st.st_mode & 077)) ::fchmod(fd, 0600);
      }
    }
    ::close(fd);
    return result;
  }

  std::optional<ByteString> LoadKey(bool create) {
    if (path_.empty()) return std::nullopt;
    ByteString key;
    const KeyRead read = ReadKey(key);
    if (read == KeyRead::Ok) return key;
    if (!create || read == KeyRead::Unreadable) return std::nullopt;
    if (!MakeFolders(folder_.substr(0, folder_.size() - 1), 0700)) return std::nullopt;

    std::string fresh(kPasswordKeySize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(fresh.data()), static_cast<int>(fresh.size())) != 1) {
      return std::nullopt;
    }
    const std::string tmp = WritePrivateTemp(path_, fresh);
    if (tmp.empty()) return std::nullopt;
    bool placed;
    if (read == KeyRead::Missing) {
      // link() never replaces: if another process made a key meanwhile, its
      // key wins and ours is dropped.
      placed = ::link(tmp.c_str(), path_.c_str()) == 0;
    } else {
      // A key of the wrong size opens nothing sealed under it; replace it.
      placed = ::rename(tmp.c_str(), path_.c_str()) == 0;
    }
    ::unlink(tmp.c_str());
    if (placed) return ByteString(fresh.begin(), fresh.end());
    return ReadKey(key) == KeyRead::Ok ? std::optional<ByteString>(key) : std::nullopt;
  }

  std::mutex mutex_;
  std::string folder_;
  std::string path_;
};

}  // namespace

std::wstring DefaultUserSettingsFolder() {
  const std::string base = XdgFolder("XDG_CONFIG_HOME", ".config");
  return base.empty() ? std::wstring() : NarrowToWide(base + "/quillnet/");
}

std::wstring ResolveProgramDataFolder(const std::wstring& machineFolder, const std::wstring& userFolder) {
  auto trimmed = [](std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  };
  const std::string machine = trimmed(WideToNarrow(machineFolder));
  if (!machine.empty() && MakeFolders(machine, 0755) && ::access(machine.c_str(), W_OK | X_OK) == 0) {
    return NarrowToWide(machine + "/");
  }
  const std::string user = trimmed(WideToNarrow(userFolder));
  if (user.empty()) return {};
  MakeFolders(user, 0700);
  return NarrowToWide(user + "/");
}

std::shared_ptr<ISettingsStore> MakePlatformSettingsStore(const std::wstring& userRoot) {
  return std::make_shared<CFileSettingsStore>(FolderOf(userRoot));
}

std::shared_ptr<IPasswordProtector> MakePlatformPasswordProtector(const std::wstring& userRoot) {
  return std::make_shared<CSealedPasswordProtector>(FolderOf(userRoot));
}

std::wstring PlatformExecutablePath() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) return NarrowToWide(std::string(buf.data(), static_cast<std::size_t>(n)));
    buf.resize(buf.size() * 2);
  }
}

std::wstring PlatformProgramDataFolder() {
  // Root's data is root's own: never a folder under a user's $HOME.
  if (::geteuid() == 0) return L"/var/lib/quillnet/";
  const std::string user = XdgFolder("XDG_DATA_HOME", ".local/share");
  return ResolveProgramDataFolder(L"/var/lib/quillnet/", user.empty() ? std::wstring() : NarrowToWide(user + "/quillnet/"));
}

bool CreateFolderWithParents(const std::wstring& folder) {
  std::string path = WideToNarrow(folder);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return MakeFolders(path, 0755);
}

namespace {

// Our folder must not be writable by anyone else; one we do not own is
// left alone (and the writers there fail or succeed on its terms).
bool TightenFolder(const std::string& path, mode_t keep) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::geteuid()) return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  if ((st.st_mode & 07777 & ~keep) == 0) return true;
  return ::chmod(path.c_str(), st.st_mode & keep) == 0;
}

std::string Trimmed(const std::wstring& folder) {
  std::string path = WideToNarrow(folder);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool SecureProgramDataFolder(const std::wstring& folder) {
  const std::string path = Trimmed(folder);
  // Ours alone: the reply documents, the route journal and the list are
  // nobody else's to read or change (`quillnet run` hands the list to its
  // program as an open descriptor).
  return MakeFolders(path, 0700) && TightenFolder(path, 0700);
}

bool SecureDownloadFolder(const std::wstring& folder) {
  const std::string path = Trimmed(folder);
  if (!MakeFolders(path, 0700) || !TightenFolder(path, 0700)) return false;
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || st.st_uid != ::geteuid()) return false;
  // What someone else owns here was not downloaded by us.
  if (DIR* dir = ::opendir(path.c_str())) {
    std::vector<std::string> doomed;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      struct stat file{};
      if (name == "." || name == "..") continue;
      if (::fstatat(::dirfd(dir), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 || file.st_uid != ::geteuid() ||
          !S_ISREG(file.st_mode))
        doomed.push_back(name);
    }
    for (const std::string& name : doomed) ::unlinkat(::dirfd(dir), name.c_str(), 0);
    ::closedir(dir);
  }
  return true;
}
