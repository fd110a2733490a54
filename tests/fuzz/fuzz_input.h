// Taking a fuzz input apart into the pieces a target needs: small numbers,
// lengths and the rest as bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// A broken promise is a crash the fuzzer keeps, with what broke it.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

class CFuzzInput {
 public:
  CFuzzInput(const std::uint8_t* data, std::size_t size) : data_(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return data_.empty(); }
  std::uint8_t Byte() {
    if (data_.empty()) return 0;
    const auto b = static_cast<std::uint8_t>(data_.front());
    data_.remove_prefix(1);
    return b;
  }
  std::uint32_t Number(std::uint32_t bound) { return bound == 0 ? 0 : (static_cast<std::uint32_t>(Byte()) << 8 | Byte()) % bound; }
  std::string_view Take(std::size_t n) {
    const std::string_view piece = data_.substr(0, n);
    data_.remove_prefix(piece.size());
    return piece;
  }
  // Up to the next line feed (which is dropped), or everything left.
  std::string_view Line() {
    const std::size_t at = data_.find('\n');
    const std::string_view line = data_.substr(0, at);
    data_.remove_prefix(at == std::string_view::npos ? data_.size() : at + 1);
    return line;
  }
  std::string_view Rest() { return Take(data_.size()); }

 private:
  std::string_view data_;
};

inline std::wstring Widen(std::string_view bytes) { return std::wstring(bytes.begin(), bytes.end()); }
