// What checking a downloaded update costs: the MD5 transfer check alone
// (the baseline) against MD5 plus the publisher signature check, on a real
// signed file (the installer), read from disk each time as the client does.
// usage: update_check_bench FILE [ROUNDS]
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/authenticode.h"

namespace {

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// As the update flow does it: the file in blocks of 4096 bytes.
bool Md5Of(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
  unsigned char block[4096];
  std::size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) EVP_DigestUpdate(ctx, block, n);
  unsigned char digest[16];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx, digest, &length);
  EVP_MD_CTX_free(ctx);
  std::fclose(f);
  return length == 16;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [ROUNDS]\n", argv[0]);
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 21;
  std::vector<double> md5Only, md5AndSignature;
  for (int i = 0; i < rounds; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    if (!Md5Of(argv[1])) return 1;
    auto t1 = std::chrono::steady_clock::now();
    if (!Md5Of(argv[1])) return 1;
    const SignedProgram checked = VerifyPublisherSignature(ReadFile(argv[1]), BuiltInPublisher());
    auto t2 = std::chrono::steady_clock::now();
    if (checked.check != SignatureCheck::Ok) {
      std::fprintf(stderr, "%s: %s\n", argv[1], SignatureCheckText(checked.check));
      return 1;
    }
    md5Only.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    md5AndSignature.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
  }
  const double base = Median(md5Only), with = Median(md5AndSignature);
  std::printf("md5 alone %.2f ms, md5 + signature %.2f ms, signature adds %.2f ms (ratio %.2f), median of %d\n", base,
              with, with - base, with / base, rounds);
  return 0;
}
