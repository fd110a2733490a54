// Small but real Windows program images for the signature tests: headers,
// one code section and a version resource, signed with osslsigncode by the
// test publisher or by another one.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fakes/temp_dir.h"

#ifndef QUILLNET_TEST_PKI
#define QUILLNET_TEST_PKI "/var/cache/quillnet/test-pki"
#endif
#ifndef QUILLNET_OSSLSIGNCODE
#define QUILLNET_OSSLSIGNCODE "osslsigncode"
#endif

namespace program_fixture {

inline void Put16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v & 0xff);
  b[at + 1] = static_cast<char>(v >> 8 & 0xff);
}
inline void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xffff);
  Put16(b, at + 2, v >> 16);
}

constexpr std::size_t kCodeOffset = 0x200;   // the .text section's raw data
constexpr std::size_t kRsrcOffset = 0x400;   // the .rsrc section's raw data

// A PE32+ image whose version resource says major.minor.patch.tweak.
inline std::string BuildProgram(std::uint16_t major, std::uint16_t minor, std::uint16_t patch, std::uint16_t tweak) {
  std::string b(0x600, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3c, 0x40);
  std::memcpy(&b[0x40], "PE\0\0", 4);
  const std::size_t coff = 0x44;
  Put16(b, coff + 0, 0x8664);  // x64
  Put16(b, coff + 2, 2);       // sections
  Put16(b, coff + 16, 240);    // optional header
  Put16(b, coff + 18, 0x22);   // executable, large addresses
  const std::size_t opt = coff + 20;
  Put16(b, opt + 0, 0x20b);
  Put32(b, opt + 4, 0x200);      // size of code
  Put32(b, opt + 16, 0x1000);    // entry point
  Put32(b, opt + 20, 0x1000);    // base of code
  Put32(b, opt + 24, 0x400000);  // image base (low half)
  Put32(b, opt + 32, 0x1000);    // section alignment
  Put32(b, opt + 36, 0x200);     // file alignment
  Put16(b, opt + 40, 6);         // OS version
  Put16(b, opt + 48, 6);         // subsystem version
  Put32(b, opt + 56, 0x3000);    // size of image
  Put32(b, opt + 60, 0x200);     // size of headers
  Put16(b, opt + 68, 2);         // GUI
  Put32(b, opt + 72, 0x100000);  // stack reserve
  Put32(b, opt + 80, 0x1000);    // stack commit
  Put32(b, opt + 88, 0x100000);  // heap reserve
  Put32(b, opt + 96, 0x1000);    // heap commit
  Put32(b, opt + 108, 16);       // directories
  Put32(b, opt + 112 + 2 * 8, 0x2000);  // resources
  Put32(b, opt + 112 + 2 * 8 + 4, 0x100);
  const std::size_t sections = opt + 240;
  std::memcpy(&b[sections], ".text", 5);
  Put32(b, sections + 8, 0x10);
  Put32(b, sections + 12, 0x1000);
  Put32(b, sections + 16, 0x200);
  Put32(b, sections + 20, kCodeOffset);
  Put32(b, sections + 36, 0x60000020);
  std::memcpy(&b[sections + 40], ".rsrc", 5);
  Put32(b, sections + 48, 0x100);
  Put32(b, sections + 52, 0x2000);
  Put32(b, sections + 56, 0x200);
  Put32(b, sections + 60, kRsrcOffset);
  Put32(b, sections + 76, 0x40000040);
  // The code: xor eax, eax; ret.
  b[kCodeOffset] = '\x31';
  b[kCodeOffset + 1] = '\xc0';
  b[kCodeOffset + 2] = '\xc3';
  // Resource tree: type 16 -> name 1 -> language 0x409 -> data.
  const std::size_t r = kRsrcOffset;
  Put16(b, r + 14, 1);
  Put32(b, r + 16, 16);
  Put32(b, r + 20, 0x80000018);
  Put16(b, r + 0x18 + 14, 1);
  Put32(b, r + 0x18 + 16, 1);
  Put32(b, r + 0x18 + 20, 0x80000030);
  Put16(b, r + 0x30 + 14, 1);
  Put32(b, r + 0x30 + 16, 0x409);
  Put32(b, r + 0x30 + 20, 0x48);
  Put32(b, r + 0x48, 0x2000 + 0x58);
  Put32(b, r + 0x48 + 4, 92);
  const std::size_t v = r + 0x58;
  Put16(b, v, 92);
  Put16(b, v + 2, 52);
  const char16_t key[] = u"VS_VERSION_INFO";
  for (std::size_t i = 0; i < 15; ++i) Put16(b, v + 6 + 2 * i, key[i]);
  const std::size_t fixed = v + 40;
  Put32(b, fixed, 0xFEEF04BD);
  Put32(b, fixed + 4, 0x10000);
  Put32(b, fixed + 8, static_cast<std::uint32_t>(major) << 16 | minor);
  Put32(b, fixed + 12, static_cast<std::uint32_t>(patch) << 16 | tweak);
  Put32(b, fixed + 16, static_cast<std::uint32_t>(major) << 16 | minor);
  Put32(b, fixed + 20, static_cast<std::uint32_t>(patch) << 16 | tweak);
  Put32(b, fixed + 36, 1);  // an application
  return b;
}

// Signs with osslsigncode as `who` ("codesign" or "other-codesign");
// empty when it cannot.
inline std::string Sign(const std::string& image, const char* who) {
  CTempDir dir;
  dir.Write(L"in.exe", image);
  const std::string in = (dir.Path() / "in.exe").string(), out = (dir.Path() / "out.exe").string();
  const std::string cert = std::string(QUILLNET_TEST_PKI) + "/" + who + ".pem";
  const std::string key = std::string(QUILLNET_TEST_PKI) + "/" + who + ".key";
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
    execlp(QUILLNET_OSSLSIGNCODE, "osslsigncode", "sign", "-certs", cert.c_str(), "-key", key.c_str(), "-h",
           "sha256", "-n", "Quillnet", "-in", in.c_str(), "-out", out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return dir.Read(L"out.exe");
}

}  // namespace program_fixture
