// quillnet run started by root: the program runs as the user who ran sudo
// (with that user's groups and home) and still reads its activation; plain
// root says that the program stays root.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "fakes/temp_dir.h"

namespace {

struct Outcome {
  int exitCode = -1;
  std::string output;  // standard output and error together
};

// Runs quillnet with exactly `environment`, its output through a pipe.
Outcome RunQuillnet(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  Outcome outcome;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return outcome;
  std::vector<char*> argv{const_cast<char*>(QUILLNET_CLI)};
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    execve(QUILLNET_CLI, argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) outcome.output.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  return outcome;
}

TEST(RunAsUser, TheProgramRunsAsTheUserWhoRanSudo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start programs as another user";
  const passwd* nobody = getpwuid(65534);
  if (!nobody) GTEST_SKIP() << "no user 65534 here";
  const std::string home = nobody->pw_dir ? nobody->pw_dir : "/";
  CTempDir dir;
  const std::string data = (dir.Path() / "data").string();
  // The probe: who it runs as, and whether the bind module's list reaches it.
  const std::string probe =
      "echo \"probe uid=$(id -u) gid=$(id -g) home=$HOME\"; grep -q '^Active=1' \"$QUILLNET_BIND_LIST\" && echo probe "
      "list=read";
  struct Case {
    const char* what;
    std::vector<std::string> sudo;
    const char* says;  // what the probe prints
    const char* note;  // what quillnet says on standard error
  } cases[] = {
      {"sudo by user 65534", {"SUDO_UID=65534", "SUDO_GID=65534", "SUDO_USER=nobody"},
       "probe uid=65534 gid=65534", "runs as user 65534, who ran sudo"},
      {"plain root", {}, "probe uid=0 gid=0", "it runs as root"},
      {"sudo by root", {"SUDO_UID=0", "SUDO_GID=0"}, "probe uid=0 gid=0", "it runs as root"},
      {"a sudo id that is no id", {"SUDO_UID=65534x", "SUDO_GID=65534"}, "probe uid=0 gid=0", "it runs as root"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> environment{"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/root"};
    environment.insert(environment.end(), c.sudo.begin(), c.sudo.end());
    const Outcome run = RunQuillnet({"run", "--data", data, "/bin/sh", "-c", probe}, environment);
    EXPECT_EQ(run.exitCode, 0) << c.what << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.what << "\n" << run.output;
    EXPECT_NE(run.output.find(c.note), std::string::npos) << c.what << "\n" << run.output;
    EXPECT_NE(run.output.find("probe list=read"), std::string::npos) << c.what << "\n" << run.output;
    if (c.sudo.size() == 3) {
      EXPECT_NE(run.output.find("home=" + home), std::string::npos) << c.what << "\n" << run.output;
    }
  }
  // Root's data folder stays root's alone.
  struct stat info {};
  ASSERT_EQ(stat(data.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

}  // namespace
