// quillnet: the terminal client. Signals are taken by one thread with
// sigwait and posted to the run loop, so a disconnect on Ctrl-C goes
// through the same flow as any other.
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "account/reply_document.h"
#include "account/settings.h"
#include "account/settings_linux.h"
#include "account/settings_platform.h"
#include "accel/app_list.h"
#include "accel/bind_module.h"
#include "cli/cli_options.h"
#include "cli/client_lock.h"
#include "cli/run_program.h"
#include "cli/terminal_client.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "text/text_table.h"

namespace {

// Disconnecting ends openvpn and restores the routes; a stuck one is ended
// by the client itself within this.
constexpr int kDisconnectWaitMs = 30000;

// The first line of `path` ("-": standard input, without echo on a terminal).
bool ReadPassword(const std::string& path, std::string& password) {
  if (path != "-") {
    std::ifstream in(path);
    return in && static_cast<bool>(std::getline(in, password));
  }
  termios saved{};
  const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fputs("password: ", stderr);
  }
  const bool ok = static_cast<bool>(std::getline(std::cin, password));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "quillnet: %s\n%s", error.c_str(), CliUsage().c_str());
    return kCliExitUsage;
  }
  if (options.command == "help") {
    std::fputs(CliUsage().c_str(), stdout);
    return kCliExitOk;
  }
  const bool logsIn = options.command == "connect" || options.command == "login";
  std::string password;
  if (logsIn && !ReadPassword(options.passwordFile, password)) {
    std::fputs("quillnet: cannot read the password\n", stderr);
    return kCliExitUsage;
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();

  SettingsPlaces places;
  places.userRoot = options.configFolder;
  places.programDataFolder = options.dataFolder;
  places.overrideFilePath = options.overrideFile;
  if (!options.serviceUrl.empty()) {
    // The service address given on the command line becomes a private
    // override file, read the way the product reads its own.
    std::wstring folder = options.configFolder.empty() ? DefaultUserSettingsFolder() : options.configFolder;
    if (!folder.empty() && folder.back() != L'/') folder += L'/';
    if (folder.empty() || !CreateFolderWithParents(folder)) {
      std::fputs("quillnet: no settings folder can be used\n", stderr);
      return kCliExitUsage;
    }
    places.overrideFilePath = folder + L"service.ini";
    IniWriteString(places.overrideFilePath, L"Main", L"LoginHosts", options.serviceUrl);
    // The CA goes beside the private override file, where CaFile is looked for.
    std::string ca;
    if (!options.caFile.empty() &&
        (!ReadWholeFile(options.caFile, ca) || !AtomicWriteFile(folder + L"service-ca.pem", ca))) {
      std::fputs("quillnet: cannot read the --ca-file\n", stderr);
      return kCliExitUsage;
    }
    IniWriteString(places.overrideFilePath, L"Main", L"CaFile", ca.empty() ? L"" : L"service-ca.pem");
  }
  RedirectSettingsPlaces(places);
  LoadTextTable();

  const std::wstring dataFolder = ProgramDataFolder();
  if (dataFolder.empty() || !CreateFolderWithParents(dataFolder)) {
    std::fputs("quillnet: no program data folder can be used\n", stderr);
    return kCliExitUsage;
  }
  const std::string lockPath = WideToNarrow(dataFolder) + "quillnet.pid";
  if (options.command == "run")
    return RunActivatedProgram(options.program, AppListPath(), WideToNarrow(ModuleFolder() + kBindModuleName));
  if (options.command == "disconnect") {
    const pid_t ended = EndLockHolder(lockPath, kDisconnectWaitMs);
    if (ended == 0) {
      std::fputs("quillnet: no client is connected on this data folder\n", stderr);
      return kCliExitNotRunning;
    }
    if (ended < 0) {
      std::fputs("quillnet: the client did not end in time\n", stderr);
      return kCliExitConnectFailed;
    }
    std::printf("disconnected the client %d\n", static_cast<int>(ended));
    return kCliExitOk;
  }
  // Connect and restore-routes change the table and its journal: never two
  // at once on one data folder.
  CClientLock lock(lockPath);
  if (options.command != "login") {
    pid_t holder = 0;
    if (!lock.Take(holder)) {
      if (holder < 0)
        std::fprintf(stderr, "quillnet: cannot lock %s\n", lockPath.c_str());
      else
        std::fprintf(stderr, "quillnet: a client is already running on this data folder (%d); 'quillnet disconnect' ends it\n",
                     static_cast<int>(holder));
      return kCliExitBusy;
    }
  }

  // Blocked before any thread starts, so only the waiting thread takes them.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  CMessageQueue queue;
  bool ending = false;
  std::thread waiter([&] {
    for (;;) {
      int number = 0;
      if (sigwait(&signals, &number) != 0) continue;
      if (__atomic_load_n(&ending, __ATOMIC_ACQUIRE)) return;
      queue.Post(kCliSignalMessage, static_cast<std::uintptr_t>(number == SIGHUP ? SIGTERM : number), 0);
    }
  });
  int code = kCliExitOk;
  {
    CTerminalClient client(queue, options, NarrowToWide(password));
    if (options.command == "connect")
      code = client.Run();
    else if (options.command == "login")
      code = client.Login();
    else
      code = client.RestoreRoutes();
  }
  __atomic_store_n(&ending, true, __ATOMIC_RELEASE);
  pthread_kill(waiter.native_handle(), SIGTERM);
  waiter.join();
  return code;
}
