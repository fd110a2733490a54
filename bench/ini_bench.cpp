// Reading a login reply value by value: the cached parse against parsing the
// file again for every read. Items are single reads, so items_per_second of
// the two are directly comparable; scripts/bench prints their ratio.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "account/ini_engine.h"
#include "account/reply_document.h"
#include "platform/file_io.h"

namespace {

constexpr int kServers = 1000;
const wchar_t* const kKeys[] = {L"ServerId", L"Title",   L"Comment", L"Load",     L"ServerHost",
                                L"Protocols", L"PPTPUseMPPE", L"IPSecSharedKey", L"OpenVpn", L"Categories"};

const std::wstring& ReplyPath() {
  static const std::wstring path = [] {
    const auto p = std::filesystem::temp_directory_path() / "quillnet-bench-login.ini";
    std::ofstream out(p, std::ios::binary);
    out << "MagicTag=VpnServerResponse\r\n[VPN]\r\nAuthResult=OK\r\n[Servers]\r\n";
    for (int i = 0; i < kServers; ++i) {
      out << "ServerId" << i << "=" << 1000 + i << "\r\nTitle" << i << "=Server " << i << "\r\nComment" << i
          << "=Comment for server " << i << "\r\nLoad" << i << "=" << i % 100 << "\r\nServerHost" << i << "=10.0."
          << i / 250 << "." << i % 250 << "\r\nProtocols" << i << "=7\r\nPPTPUseMPPE" << i << "=1\r\nIPSecSharedKey"
          << i << "=shared-key-" << i << "\r\nOpenVpn" << i << "=udp:1194\r\nCategories" << i << "=1,2\r\n";
    }
    return p.wstring();
  }();
  return path;
}

void BM_CachedReads(benchmark::State& state) {
  const std::wstring& path = ReplyPath();
  for (auto _ : state) {
    for (int i = 0; i < kServers; ++i)
      for (const wchar_t* key : kKeys)
        benchmark::DoNotOptimize(IniReadString(path, L"Servers", key + std::to_wstring(i), L""));
  }
  state.SetItemsProcessed(state.iterations() * kServers * 10);
}
BENCHMARK(BM_CachedReads)->Unit(benchmark::kMillisecond);

// The baseline: what every read costs when nothing is kept between reads.
void BM_ReparsePerRead(benchmark::State& state) {
  const std::wstring& path = ReplyPath();
  constexpr int kSample = 20;  // servers; the cost per read does not depend on which
  for (auto _ : state) {
    for (int i = 0; i < kSample; ++i)
      for (const wchar_t* key : kKeys) {
        std::string bytes;
        ReadWholeFile(path, bytes);
        const CIniDocument doc = CIniDocument::Parse(bytes);
        std::string k;
        for (const wchar_t* c = key; *c; ++c) k.push_back(static_cast<char>(*c));
        benchmark::DoNotOptimize(doc.Find("Servers", k + std::to_string(i)));
      }
  }
  state.SetItemsProcessed(state.iterations() * kSample * 10);
}
BENCHMARK(BM_ReparsePerRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
