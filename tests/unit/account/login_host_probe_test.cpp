#include "account/login_host_probe.h"
#include "account/trust_anchors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "fakes/test_http_server.h"
#include "platform/file_io.h"

namespace {

const std::string kAnnouncements =
    "[VPN]\r\nMagicTag=VpnServerResponse\r\nClientIP=203.0.113.9\r\n[Announcements]\r\nTitle0=Hello\r\n";

unsigned char KeyOf(const TestHttpRequest& r) {
  const std::size_t at = r.body.find("xor=");
  return at == std::string::npos ? 0 : static_cast<unsigned char>(std::atoi(r.body.c_str() + at + 4));
}

std::string Scramble(std::string text, unsigned char key) {
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) ^ key);
  return text;
}

// Answers like the service: the body scrambled with the request's key.
CTestHttpServer::Handler Answer(std::string body, int delayMs, int status = 200) {
  return [=](const TestHttpRequest& r) {
    TestHttpReply reply{status, Scramble(body, KeyOf(r))};
    reply.delayMs = delayMs;
    return reply;
  };
}

CTestHttpServer::Handler Silent() {
  return [](const TestHttpRequest&) {
    TestHttpReply r;
    r.hang = true;
    return r;
  };
}

class CFakeOwner : public ILoginHostProbeOwner {
 public:
  void RequestProbeTimer(std::uint32_t id, std::uint32_t ms) override { timers.emplace_back(id, ms); }
  void OnLoginHostWon(const std::wstring& path) override { wins.push_back(path); }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> timers;
  std::vector<std::wstring> wins;
};

struct Bed {
  CTempDir dir;
  CMessageQueue queue;
  CFakeOwner owner;
  int position = -1;
  std::wstring anns = dir.File(L"QuillnetAnns.ini");
  std::wstring overridePath = dir.File(L"Quillnet.exe.ini");

  void SetLoginHosts(const std::wstring& hosts) {
    IniWriteString(overridePath, L"Main", L"LoginHosts", hosts);
  }
  LoginHostProbeSettings Settings(long connectMs = 10000, std::uint32_t noStatusMs = 700) {
    LoginHostProbeSettings s{overridePath, anns, {}};
    s.limits.connectTimeoutMs = connectMs;
    s.limits.noStatusTimeoutMs = noStatusMs;
    s.limits.maxReceivedBytes = 64 * 1024;
    return s;
  }
  // Delivers probe events until the probe has released its transfers.
  void Pump(CLoginHostProbe& probe, int timeoutMs = 10000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (probe.RunningProbes() > 0 && std::chrono::steady_clock::now() < until) {
      auto m = queue.Wait(50);
      if (m && m->message == kLoginHostProbeMessage) probe.OnLoginHostProbeEvent(m->wParam, m->lParam);
    }
  }
};

TEST(LoginHostProbe, FastestValidHostWinsIsRememberedAndTriedFirstNextTime) {
  Bed bed;
  CTestHttpServer noMarker(Answer("[VPN]\r\nClientIP=1.2.3.4\r\n", 5));
  CTestHttpServer error(Answer(kAnnouncements, 5, 500));
  CTestHttpServer fastest(Answer(kAnnouncements, 50), true);
  CTestHttpServer late(Answer(kAnnouncements, 400));
  CTestHttpServer silent(Silent());
  for (auto* s : {&noMarker, &error, &fastest, &late, &silent}) ASSERT_TRUE(s->Ok());
  // The probe verifies its HTTPS hosts: trust the fastest one's certificate as an operator's CA.
  ASSERT_TRUE(SetExtraTrustAnchorsPem(fastest.CertificatePem()));
  struct Untrust {
    ~Untrust() { ClearExtraTrustAnchors(); }
  } untrust;
  bed.SetLoginHosts(noMarker.BaseUrl() + L";" + error.BaseUrl() + L"; " + late.BaseUrl() + L";" +
                    fastest.BaseUrl() + L";" + silent.BaseUrl());
  {
    CLoginHostProbe probe(&bed.queue, &bed.owner, bed.Settings(), &bed.position);
    EXPECT_EQ(probe.StartLoginHostProbe(), 5u);
    EXPECT_EQ(bed.position, 1) << "nothing remembered on a first start";
    bed.Pump(probe);
    EXPECT_EQ(probe.RunningProbes(), 0u);
    EXPECT_TRUE(probe.HasWinner());
    EXPECT_EQ(probe.LoginBaseUrl(), fastest.BaseUrl());
    EXPECT_EQ(probe.WebSiteUrl(), L"https://127.0.0.1/");
    ASSERT_EQ(bed.owner.wins.size(), 1u) << "later valid answers do not win again";
    EXPECT_TRUE(bed.owner.timers.empty());
    EXPECT_EQ(IniReadString(bed.anns, L"Main", L"LastFastestHostUrl", L""), fastest.BaseUrl());
    EXPECT_EQ(IniReadString(bed.anns, L"VPN", L"ClientIP", L""), L"203.0.113.9");
  }
  // The next run starts with the remembered host alone.
  bed.position = -1;
  CLoginHostProbe again(&bed.queue, &bed.owner, bed.Settings(), &bed.position);
  EXPECT_EQ(again.StartLoginHostProbe(), 1u);
  EXPECT_EQ(again.LastProbedUrls(), std::vector<std::wstring>{fastest.BaseUrl()});
  bed.Pump(again);
  EXPECT_TRUE(again.HasWinner());
  EXPECT_EQ(again.LoginBaseUrl(), fastest.BaseUrl());
}

TEST(LoginHostProbe, NoWinnerAsksForTheRetryTimerAndMovesToTheNextList) {
  Bed bed;
  CTestHttpServer bad(Answer("no marker here", 0));
  ASSERT_TRUE(bad.Ok());
  bed.SetLoginHosts(bad.BaseUrl());
  IniWriteString(bed.anns, L"Main", L"LastFastestHostUrl", bad.BaseUrl());
  CLoginHostProbe probe(&bed.queue, &bed.owner, bed.Settings(), &bed.position);
  EXPECT_EQ(probe.StartLoginHostProbe(), 1u);
  EXPECT_EQ(bed.position, 0);
  bed.Pump(probe);
  EXPECT_FALSE(probe.HasWinner());
  ASSERT_EQ(bed.owner.timers.size(), 1u);
  EXPECT_EQ(bed.owner.timers[0], std::make_pair(kLoginHostProbeTimerId, kLoginHostProbeRetryMs));
  probe.OnRetryTimer();
  EXPECT_EQ(bed.position, 1) << "the retry uses the next source";
  EXPECT_EQ(probe.RunningProbes(), 1u);
  bed.Pump(probe);
  EXPECT_EQ(bed.owner.timers.size(), 2u);
  EXPECT_TRUE(bed.owner.wins.empty());
}

TEST(LoginHostProbe, BadRepliesNeverWin) {
  using namespace std::string_literals;
  const std::string marker = "MagicTag=VpnServerResponse";
  struct Case {
    const char* name;
    std::string body;
    bool scramble;
  };
  const Case cases[] = {
      {"empty", "", true},
      {"truncated marker", "[VPN]\n" + marker.substr(0, 20), true},
      {"marker only at the very end", "[VPN]\n" + marker, true},
      {"not scrambled", kAnnouncements, false},
      {"binary", "\x00\x01\xff\xfe\x00"s + std::string(3000, '\x80'), true},
      {"huge", kAnnouncements + std::string(200 * 1024, 'x'), true},
  };
  for (const Case& c : cases) {
    Bed bed;
    CTestHttpServer server([&](const TestHttpRequest& r) {
      // The probe key is 1 to 254, so an unscrambled reply is never read back as sent.
      return TestHttpReply{200, c.scramble ? Scramble(c.body, KeyOf(r)) : c.body};
    });
    ASSERT_TRUE(server.Ok());
    bed.SetLoginHosts(server.BaseUrl());
    CLoginHostProbe probe(&bed.queue, &bed.owner, bed.Settings(), &bed.position);
    ASSERT_EQ(probe.StartLoginHostProbe(), 1u) << c.name;
    bed.Pump(probe);
    EXPECT_FALSE(probe.HasWinner()) << c.name;
    EXPECT_TRUE(probe.LoginBaseUrl().empty()) << c.name;
    EXPECT_FALSE(FileExists(bed.anns)) << c.name;
    EXPECT_EQ(bed.owner.timers.size(), 1u) << c.name;
  }
}

TEST(LoginHostProbe, EventsOfOtherTransfersAreIgnored) {
  Bed bed;
  CTestHttpServer server(Answer(kAnnouncements, 0));
  ASSERT_TRUE(server.Ok());
  bed.SetLoginHosts(server.BaseUrl());
  CLoginHostProbe probe(&bed.queue, &bed.owner, bed.Settings(), &bed.position);
  ASSERT_EQ(probe.StartLoginHostProbe(), 1u);
  CCurlPlus stranger(server.BaseUrl());
  EXPECT_FALSE(probe.OnLoginHostProbeEvent(kCurlEventEnded, stranger.EventId()));
  EXPECT_EQ(probe.RunningProbes(), 1u) << "a stranger's end does not count";
  bed.Pump(probe);
  EXPECT_TRUE(probe.HasWinner());
}

TEST(LoginHostProbe, DroppingTheProbeWhileHostsHangReturnsPromptly) {
  Bed bed;
  CTestHttpServer a(Silent()), b(Silent()), c(Silent());
  bed.SetLoginHosts(a.BaseUrl() + L";" + b.BaseUrl() + L";" + c.BaseUrl());
  auto probe = std::make_unique<CLoginHostProbe>(&bed.queue, &bed.owner, bed.Settings(10000, 60000), &bed.position);
  ASSERT_EQ(probe->StartLoginHostProbe(), 3u);
  for (int i = 0; i < 400 && (a.Requests().empty() || b.Requests().empty() || c.Requests().empty()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto t0 = std::chrono::steady_clock::now();
  probe.reset();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  // Each worker stops at its next progress report (about a second apart);
  // the waits overlap rather than add up.
  EXPECT_LT(ms, 1900);
  EXPECT_TRUE(bed.owner.timers.empty());
}

}  // namespace
