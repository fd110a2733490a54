// The bind module's 5-byte route request, built the way a real client sends
// it, for the tests of every transport.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "routing/route_table.h"

inline std::uint32_t Address(int a, int b, int c, int d) {
  return HostToNet(static_cast<std::uint32_t>(a << 24 | b << 16 | c << 8 | d));
}

inline std::vector<unsigned char> Request(std::uint32_t address, unsigned char command = 1) {
  std::vector<unsigned char> r(5);
  r[0] = command;
  std::memcpy(r.data() + 1, &address, 4);
  return r;
}
