// A login reply, whatever it holds, loads into a server map that reads
// exactly what the value-by-value accessors read for the same file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "account/reply_document.h"
#include "fuzz_input.h"
#include "platform/strings.h"
#include "servers/server_list.h"

namespace {

std::wstring ReplyPath() {
  static const std::wstring path = NarrowToWide("/tmp/quillnet-server-list-fuzz-" + std::to_string(getpid()) + ".ini");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring path = ReplyPath();
  {
    std::ofstream out(WideToNarrow(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  IniForgetCache();
  const VpnServerMap servers = LoadServerList(path);
  std::size_t count = 0;
  for (int i = 0;; ++i) {
    const std::wstring index = std::to_wstring(i);
    const std::int32_t id = ParseDecimalInt32(IniReadString(path, L"Servers", L"ServerId" + index, L""));
    if (id == 0) break;
    ++count;
    const auto it = servers.find(id);
    FUZZ_CHECK(it != servers.end());
    if (it == servers.end()) continue;
    // A later record with the same id replaces the earlier one.
    bool later = false;
    for (int j = i + 1; !later; ++j) {
      const std::int32_t next = ParseDecimalInt32(IniReadString(path, L"Servers", L"ServerId" + std::to_wstring(j), L""));
      if (next == 0) break;
      later = next == id;
    }
    if (later) continue;
    FUZZ_CHECK(it->second.host == IniReadString(path, L"Servers", L"ServerHost" + index, L""));
    FUZZ_CHECK(it->second.title == IniReadText(path, L"Servers", L"Title" + index));
    FUZZ_CHECK(it->second.openVpn == IniReadString(path, L"Servers", L"OpenVpn" + index, L""));
    FUZZ_CHECK(it->second.pptpUseMppe == IniReadInt(path, L"Servers", L"PPTPUseMPPE" + index, 0));
  }
  FUZZ_CHECK(servers.size() <= count);
  return 0;
}
