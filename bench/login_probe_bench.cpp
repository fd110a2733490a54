// How long the login host race takes to name its winner, against the
// fastest host's own answer time measured in the same run. The fastest
// valid host answers after 50 ms; the others after 200 ms, 1 s, or never.
// Compare BM_RaceToWinner with BM_FastestHostAlone: the goal is a
// difference within 20 ms.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "account/account_service.h"
#include "account/curl_plus.h"
#include "account/login_host_probe.h"
#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "platform/file_io.h"
#include "fakes/test_http_server.h"

namespace {

const CCurlGlobal g_curl;

const std::string kReply = "[VPN]\r\nMagicTag=VpnServerResponse\r\nClientIP=127.0.0.1\r\n";

CTestHttpServer::Handler Answer(int delayMs) {
  return [delayMs](const TestHttpRequest& r) {
    const std::size_t at = r.body.find("xor=");
    const auto key = static_cast<unsigned char>(at == std::string::npos ? 0 : std::atoi(r.body.c_str() + at + 4));
    std::string body = kReply;
    for (char& c : body) c = static_cast<char>(static_cast<unsigned char>(c) ^ key);
    TestHttpReply reply{200, body};
    reply.delayMs = delayMs;
    reply.hang = delayMs < 0;
    return reply;
  };
}

struct Hosts {
  CTestHttpServer fastest{Answer(50)};
  CTestHttpServer late{Answer(200)};
  CTestHttpServer later{Answer(1000)};
  CTestHttpServer never{Answer(-1)};
  CTestHttpServer alsoNever{Answer(-1)};
};

class COwner : public ILoginHostProbeOwner {
 public:
  void RequestProbeTimer(std::uint32_t, std::uint32_t) override {}
  void OnLoginHostWon(const std::wstring&) override { won = std::chrono::steady_clock::now(); }
  std::chrono::steady_clock::time_point won;
};

void BM_FastestHostAlone(benchmark::State& state) {
  Hosts hosts;
  CMessageQueue queue;
  for (auto _ : state) {
    CCurlPlus probe = BuildProbeRequest(hosts.fastest.BaseUrl());
    probe.SetNotify(&queue, kLoginHostProbeMessage);
    const auto t0 = std::chrono::steady_clock::now();
    probe.Start();
    while (auto m = queue.Wait(5000))
      if (m->wParam == kCurlEventEnded) break;
    const auto t1 = std::chrono::steady_clock::now();
    if (probe.ResponseCode() != 200) state.SkipWithError("the fastest host did not answer");
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
}

void BM_RaceToWinner(benchmark::State& state) {
  Hosts hosts;
  CTempDir dir;
  const std::wstring overridePath = dir.File(L"Quillnet.exe.ini");
  IniWriteString(overridePath, L"Main", L"LoginHosts",
                 hosts.never.BaseUrl() + L";" + hosts.later.BaseUrl() + L";" + hosts.late.BaseUrl() + L";" +
                     hosts.alsoNever.BaseUrl() + L";" + hosts.fastest.BaseUrl());
  for (auto _ : state) {
    CMessageQueue queue;
    COwner owner;
    int position = 0;  // straight to the override list
    RemoveFile(dir.File(L"QuillnetAnns.ini"));
    auto probe = std::make_unique<CLoginHostProbe>(
        &queue, &owner, LoginHostProbeSettings{overridePath, dir.File(L"QuillnetAnns.ini"), {}}, &position);
    const auto t0 = std::chrono::steady_clock::now();
    probe->StartLoginHostProbe();
    while (!probe->HasWinner()) {
      auto m = queue.Wait(5000);
      if (!m) break;
      probe->OnLoginHostProbeEvent(m->wParam, m->lParam);
    }
    if (!probe->HasWinner() || probe->LoginBaseUrl() != hosts.fastest.BaseUrl())
      state.SkipWithError("the fastest valid host did not win");
    state.SetIterationTime(std::chrono::duration<double>(owner.won - t0).count());
    state.PauseTiming();
    probe.reset();  // the losers are dropped outside the measurement
    state.ResumeTiming();
  }
}

}  // namespace

BENCHMARK(BM_FastestHostAlone)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_RaceToWinner)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_MAIN();
