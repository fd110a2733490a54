// quillnet-update-check FILE [RUNNING_VERSION]: what this build's client
// would decide about FILE as a downloaded update: the signature against the
// publisher compiled in, and a version above RUNNING_VERSION (four numbers,
// 0.0.0.0 when left out). Exit 0 when it would start it, 1 when it would
// refuse it, 2 on a usage or file error.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/authenticode.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: quillnet-update-check FILE [RUNNING_VERSION]\n");
    return 2;
  }
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (argc == 3 && (std::sscanf(argv[2], "%u.%u.%u.%u", &a, &b, &c, &d) != 4 || a > 65535 || b > 65535 ||
                    c > 65535 || d > 65535)) {
    std::fprintf(stderr, "not a version of four numbers: %s\n", argv[2]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::uint64_t running = (static_cast<std::uint64_t>(a) << 48) | (static_cast<std::uint64_t>(b) << 32) |
                                (static_cast<std::uint64_t>(c) << 16) | d;
  const UpdateProgramVerdict verdict = CheckUpdateProgram(image, running, BuiltInPublisher());
  std::printf("signature: %s\nnewer: %s\n%s\n", SignatureCheckText(verdict.signature), verdict.newer ? "yes" : "no",
              verdict.ok ? "would start" : "would refuse");
  return verdict.ok ? 0 : 1;
}
