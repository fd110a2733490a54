#include "account/request_random.h"

#include <chrono>
#include <mutex>
#include <random>

namespace {

std::mutex g_mutex;

std::mt19937& Generator() {
  static std::mt19937 generator(static_cast<std::uint32_t>(
      std::chrono::system_clock::now().time_since_epoch().count()));
  return generator;
}

}  // namespace

void SeedRequestRandom(std::uint32_t seed) {
  std::lock_guard<std::mutex> lock(g_mutex);
  Generator().seed(seed);
}

std::uint32_t NextRequestRandom() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return Generator()();
}
