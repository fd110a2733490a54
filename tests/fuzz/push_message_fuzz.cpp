// The server's push message, found in openvpn's output and taken apart:
// whatever the server sends, the message is one line of the output and every
// field is one token of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "platform/strings.h"
#include "vpn/open_vpn.h"

namespace {

constexpr std::string_view kPrefix = "PUSH: Received control message: ";

// A field is a token: no separator inside, and found in the message.
void CheckField(const std::wstring& field, std::string_view message) {
  const std::string narrow = WideToNarrow(field);
  FUZZ_CHECK(narrow.find_first_of(", ") == std::string::npos);
  FUZZ_CHECK(message.find(narrow) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view buffer(reinterpret_cast<const char*>(data), size);
  if (std::optional<std::string> message = ExtractPushMessage(buffer)) {
    FUZZ_CHECK(message->find('\n') == std::string::npos);
    FUZZ_CHECK(buffer.find(std::string(kPrefix) + *message + "\n") != std::string_view::npos);
  }
  // The same bytes as a message: on Linux the narrow code page is UTF-8,
  // so only ASCII fields can be compared byte for byte.
  bool ascii = true;
  for (char c : buffer) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  const OpenVpnPush push = ParsePushMessage(buffer);
  if (!ascii) return 0;
  if (push.localIp) CheckField(*push.localIp, buffer);
  if (push.gateway) CheckField(*push.gateway, buffer);
  FUZZ_CHECK(push.dns.size() <= static_cast<std::size_t>(std::count(buffer.begin(), buffer.end(), ',')) + 1);
  for (const std::wstring& dns : push.dns) {
    FUZZ_CHECK(!dns.empty());
    CheckField(dns, buffer);
  }
  return 0;
}
