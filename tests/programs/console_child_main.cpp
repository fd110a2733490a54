// A console program for the redirector's tests; each mode exercises one way
// a real child behaves.
//   prompt TEXT      write TEXT without a line end, read a line, echo it back
//   flushprompt TEXT as prompt, but a moment after the prompt turn echo off
//                    with TCSAFLUSH, throwing away an answer typed too early
//                    (as openvpn asks for a password); terminals only
//   burst N          write N bytes (a counting pattern) in one write, exit
//   interleave N     alternate N lines between standard output and error
//   silent           ignore input, sleep until killed
//   exit CODE        exit at once with CODE
//   handles [HEX..]  say what it inherited: the open descriptors ("fds 0 1
//                    2"), or on Windows whether each handle value given is
//                    open here ("open" or "closed")
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <termios.h>
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "prompt" && argc > 2) {
    std::fputs(argv[2], stdout);
    std::fflush(stdout);
    char line[256] = {};
    if (!std::fgets(line, sizeof line, stdin)) return 3;
    line[std::strcspn(line, "\r\n")] = 0;
    std::printf("\ngot [%s]\n", line);
    return 0;
  }
#ifndef _WIN32
  if (mode == "flushprompt" && argc > 2) {
    std::fputs(argv[2], stdout);
    std::fflush(stdout);
    // Long enough for a prompt answer to arrive first; what the test checks
    // holds whichever comes first.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    termios tio{};
    if (tcgetattr(0, &tio) == 0) {
      tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
      tcsetattr(0, TCSAFLUSH, &tio);
    }
    char line[256] = {};
    if (!std::fgets(line, sizeof line, stdin)) return 3;
    line[std::strcspn(line, "\r\n")] = 0;
    std::printf("\ngot [%s]\n", line);
    return 0;
  }
#endif
  if (mode == "burst" && argc > 2) {
    const int n = std::atoi(argv[2]);
    std::string bytes;
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
    return 0;
  }
  if (mode == "interleave" && argc > 2) {
    const int n = std::atoi(argv[2]);
    for (int i = 0; i < n; ++i) {
      FILE* f = i % 2 ? stderr : stdout;
      std::fprintf(f, "%s %d\n", i % 2 ? "err" : "out", i);
      std::fflush(f);
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return 0;
  }
  if (mode == "silent") {
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
  if (mode == "handles") {
#ifdef _WIN32
    std::string said;
    for (int i = 2; i < argc; ++i) {
      DWORD flags = 0;
      const auto value = static_cast<std::uintptr_t>(std::strtoull(argv[i], nullptr, 16));
      said += std::string(said.empty() ? "" : " ") +
              (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? "open" : "closed");
    }
    std::printf("%s\n", said.c_str());
#else
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return 4;
    std::string said = "fds";
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(dir)) continue;
      said += std::string(" ") + entry->d_name;
    }
    closedir(dir);
    std::printf("%s\n", said.c_str());
#endif
    std::fflush(stdout);
    return 0;
  }
  return 2;
}
