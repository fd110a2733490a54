#include "cli/run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "accel/bind_rules.h"
#include "account/ini_engine.h"
#include "account/reply_document.h"
#include "cli/cli_options.h"
#include "platform/file_io.h"
#include "platform/invoking_user.h"
#include "platform/strings.h"

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool StartsWithShebang(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char head[2] = {};
  const bool script = std::fread(head, 1, 2, file) == 2 && head[0] == '#' && head[1] == '!';
  std::fclose(file);
  return script;
}

// Leaves root for good: the user's groups, group and user, all three ids of
// each, and the user's own HOME. False (with why) leaves us as we were or
// half-way; the caller must not go on to exec then.
bool BecomeUser(const InvokingUser& user, std::string& why) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(user.uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_name) {
    why = "user " + std::to_string(user.uid) + " is unknown";
    return false;
  }
  if (initgroups(found->pw_name, user.gid) != 0 || setresgid(user.gid, user.gid, user.gid) != 0 ||
      setresuid(user.uid, user.uid, user.uid) != 0) {
    why = "cannot become " + std::string(found->pw_name);
    return false;
  }
  if (setresuid(0, 0, 0) == 0 || geteuid() != user.uid || getegid() != user.gid) {
    why = "root could be taken back";
    return false;
  }
  if (setenv("HOME", found->pw_dir ? found->pw_dir : "/", 1) != 0 || setenv("USER", found->pw_name, 1) != 0 ||
      setenv("LOGNAME", found->pw_name, 1) != 0) {
    why = "cannot set the user's environment";
    return false;
  }
  return true;
}

}  // namespace

std::string ResolveProgram(const std::string& name, const std::string& searchPath) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? RealPath(name) : std::string();
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    std::size_t end = searchPath.find(':', start);
    if (end == std::string::npos) end = searchPath.size();
    // An empty entry is the current folder, as the shell has it.
    std::string folder = searchPath.substr(start, end - start);
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + name;
    if (IsExecutableFile(candidate)) return RealPath(candidate);
    start = end + 1;
  }
  return {};
}

int RunActivatedProgram(const std::vector<std::string>& program, const std::wstring& listPath,
                        const std::string& bindLibrary) {
  const char* searchPath = std::getenv("PATH");
  const std::string path = ResolveProgram(program[0], searchPath ? searchPath : "/usr/bin:/bin");
  if (path.empty()) {
    std::fprintf(stderr, "quillnet: %s: no such program\n", program[0].c_str());
    return kCliExitCannotRun;
  }
  if (!IsExecutableFile(bindLibrary)) {
    std::fprintf(stderr, "quillnet: the bind module %s is missing\n", bindLibrary.c_str());
    return kCliExitCannotRun;
  }
  // One section per program, keyed and matched by its full path, as the
  // accelerate dialog writes it.
  const std::wstring key = NarrowToWide(path);
  if (IniReadString(listPath, key, L"AppFullname", L"").empty()) {
    IniWriteString(listPath, key, L"AppFullname", key);
    IniWriteInt(listPath, key, L"UseAsyncMode", 0);
    IniWriteInt(listPath, key, L"ForceWSPBind", 0);
  }
  IniWriteInt(listPath, key, L"Active", 1);
  // Told by the module's own rule, so what is printed is what it will do.
  std::string bytes;
  if (!ReadWholeFile(listPath, bytes) || !FindActivation(CIniDocument::Parse(bytes), key).activated) {
    std::fprintf(stderr, "quillnet: %s cannot be activated in %s\n", path.c_str(), WideToNarrow(listPath).c_str());
    return kCliExitCannotRun;
  }
  if (StartsWithShebang(path))
    std::fprintf(stderr, "quillnet: note: %s is a script; the bind module sees its interpreter, not the script\n",
                 path.c_str());
  // The program belongs to whoever ran sudo, not to root. The list it reads
  // sits in root's own folder: it gets an open descriptor of it instead.
  std::string listForProgram = WideToNarrow(listPath);
  if (geteuid() == 0) {
    const InvokingUser user = CurrentInvokingUser();
    if (!user.fromSudo) {
      std::fprintf(stderr, "quillnet: note: no sudo user to run %s as: it runs as root\n", path.c_str());
    } else {
      const int list = open(listForProgram.c_str(), O_RDONLY);  // inherited on purpose
      if (list >= 0) listForProgram = "/proc/self/fd/" + std::to_string(list);
      std::string why;
      if (!BecomeUser(user, why)) {
        std::fprintf(stderr, "quillnet: %s not started: %s\n", path.c_str(), why.c_str());
        return kCliExitCannotRun;
      }
      std::fprintf(stderr, "quillnet: %s runs as user %u, who ran sudo\n", path.c_str(), static_cast<unsigned>(user.uid));
    }
  }
  std::fprintf(stderr, "quillnet: starting %s, activated\n", path.c_str());
  std::fflush(stderr);

  const char* preload = std::getenv("LD_PRELOAD");
  const std::string preloadValue = bindLibrary + (preload && *preload ? std::string(":") + preload : std::string());
  if (setenv("LD_PRELOAD", preloadValue.c_str(), 1) != 0 ||
      setenv("QUILLNET_BIND_LIST", listForProgram.c_str(), 1) != 0) {
    std::fputs("quillnet: cannot set the program's environment\n", stderr);
    return kCliExitCannotRun;
  }
  std::vector<char*> argv;
  // argv[0] as the user gave it: some programs are named by it.
  for (std::size_t i = 0; i < program.size(); ++i) argv.push_back(const_cast<char*>(program[i].c_str()));
  argv.push_back(nullptr);
  execve(path.c_str(), argv.data(), environ);
  std::perror(("quillnet: " + path).c_str());
  return kCliExitCannotRun;
}
