// A console program for the redirector's tests; each mode exercises one way
// a real child behaves.
//   prompt TEXT      write TEXT without a line end, read a line, echo it back
//   burst N          write N bytes (a counting pattern) in one write, exit
//   interleave N     alternate N lines between standard output and error
//   silent           ignore input, sleep until killed
//   exit CODE        exit at once with CODE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

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
  return 2;
}
