#include "account/account_service.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <chrono>
#include <random>

#include "account/login_host_probe.h"
#include "account/reply_document.h"
#include "fakes/temp_dir.h"
#include "fakes/transfer_wait.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "service_process.h"

namespace {

constexpr std::uint32_t kMsg = kWmUser + 1;

const char* const kAccounts = R"(
[VPN]
RequiredClientVersion=2.3.0.2
OfficalWebSiteUrl=http://www.quillnet.example/
[Account alice]
Password=wonder land
Expires=2099-01-01
Message=Hello Alice
[Account bob]
Password=builder
Expires=2020-06-30
[Account carol]
Password=secret
Expires=0
Bios=BIOS-7
Disk=DISK-7
Network=00-16-3E-00-00-07
[Servers]
ServerId0=1
Title0=Loopback
ServerHost0=127.0.0.1
[Routes]
Title0=Listed
RouteId0=r1
[RouteList Routes r1]
Route0=192.0.2.0/24
Route1=198.51.100.0 mask 255.255.255.0
)";

struct Fetched {
  int status = 0;
  std::string body;
};

Fetched Fetch(CCurlPlus request) {
  CMessageQueue queue;
  request.SetNotify(&queue, kMsg);
  if (!request.Start()) return {};
  WaitForTransferEnd(queue, request.EventId(), 15000);
  return {request.ResponseCode(), request.TakeReceived()};
}

TEST(AccountServiceOverHttp, LoginAndRouteFetchOverHttpAndHttps) {
  CServiceProcess service("", kAccounts);
  ASSERT_TRUE(service.Ready());
  CTempDir dir;
  const std::wstring doc = dir.File(L"Quillnet.ini");
  const MachineIdentities carolsMachine{"BIOS-7", "DISK-7", "00-16-3E-00-00-07"};
  struct Case {
    const wchar_t* account;
    const wchar_t* password;
    MachineIdentities ids;
    const wchar_t* result;
  };
  const Case cases[] = {
      {L"alice", L"wonder land", {"x", "y", "z"}, L"OK"},
      {L"alice", L"wonderland", {}, L"Denied"},
      {L"nobody", L"wonder land", {}, L"Denied"},
      {L"bob", L"builder", {}, L"Expired"},
      {L"carol", L"secret", carolsMachine, L"OK"},
      {L"carol", L"secret", {"BIOS-7", "DISK-8", "00-16-3E-00-00-07"}, L"Denied"},
  };
  for (const std::wstring& base : {service.HttpBase(), service.HttpsBase()}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(WideToUtf8(base + L" " + c.account + L"/" + c.password));
      const Fetched login = Fetch(BuildLoginRequest(base, c.account, MaskLoginSecrets(c.password, c.ids), 1700000000));
      ASSERT_EQ(login.status, 200);
      ASSERT_TRUE(HasReplyMarker(login.body.data(), login.body.size()));
      ASSERT_TRUE(AtomicWriteFile(doc, login.body));
      EXPECT_EQ(IniReadString(doc, L"VPN", L"AuthResult", L""), c.result);
      EXPECT_EQ(IniReadString(doc, L"VPN", L"RequiredClientVersion", L""), L"2.3.0.2");
      if (std::wstring(c.result) == L"OK") {
        EXPECT_EQ(IniReadString(doc, L"Servers", L"ServerHost0", L""), L"127.0.0.1");
        EXPECT_EQ(IniReadString(doc, L"Routes", L"RouteId0", L""), L"r1");
      } else {
        EXPECT_EQ(IniReadString(doc, L"Servers", L"ServerHost0", L"none"), L"none");
      }
    }
    const std::wstring routeId = IniReadString(doc, L"Routes", L"RouteId0", L"r1");
    const Fetched routes = Fetch(BuildRouteRequest(base, L"alice", MaskSecret("wonder land"), L"Routes", routeId));
    EXPECT_EQ(routes.status, 200);
    EXPECT_EQ(SplitRouteLines(routes.body),
              (std::vector<std::wstring>{L"192.0.2.0/24", L"198.51.100.0 mask 255.255.255.0"}));
    const Fetched refused = Fetch(BuildRouteRequest(base, L"alice", MaskSecret("wrong"), L"Routes", L"r1"));
    EXPECT_EQ(refused.status, 403);
    EXPECT_TRUE(SplitRouteLines(refused.body).empty());
  }
  // The alice login wrote its expiry; the expired account gets its own.
  const Fetched bob = Fetch(BuildLoginRequest(service.HttpBase(), L"bob", MaskLoginSecrets(L"builder", {}), 0));
  ASSERT_TRUE(AtomicWriteFile(doc, bob.body));
  EXPECT_EQ(IniReadInt64(doc, L"VPN", L"ExpirationDatetimeGMT"), 1593475200);
}

// Every secret the client masks is recovered by the service's own unmasking.
TEST(AccountServiceOverHttp, MaskingRoundTripsThroughTheServicesUnmasking) {
  CServiceProcess service("EchoSecrets=1", kAccounts);
  ASSERT_TRUE(service.Ready());
  CTempDir dir;
  const std::wstring doc = dir.File(L"reply.ini");
  std::mt19937 gen(20261209);
  auto hex = [](const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    return out;
  };
  auto randomBytes = [&gen](std::size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(1 + gen() % 255);
    return s;
  };
  constexpr int kRounds = 120;
  int verified = 0;
  for (int i = 0; i < kRounds; ++i) {
    std::wstring password;
    const std::size_t length = i % 40;
    for (std::size_t k = 0; k < length; ++k)
      password += static_cast<wchar_t>(k % 5 == 4 ? 0x4e00 + gen() % 100 : 0x21 + gen() % 94);
    const MachineIdentities ids{randomBytes(gen() % 64), randomBytes(1 + gen() % 16), randomBytes(gen() % 3)};
    const Fetched login = Fetch(BuildLoginRequest(service.HttpBase(), L"alice", MaskLoginSecrets(password, ids), 0x7fffffffLL + i));
    ASSERT_EQ(login.status, 200);
    ASSERT_TRUE(AtomicWriteFile(doc, login.body));
    const bool ok = IniReadString(doc, L"Echo", L"Password", L"") == NarrowToWide(hex(WideToNarrow(password))) &&
                    IniReadString(doc, L"Echo", L"Bios", L"") == NarrowToWide(hex(ids.bios)) &&
                    IniReadString(doc, L"Echo", L"Disk", L"") == NarrowToWide(hex(ids.disk)) &&
                    IniReadString(doc, L"Echo", L"Network", L"") == NarrowToWide(hex(ids.network)) &&
                    IniReadString(doc, L"Echo", L"Time", L"") == std::to_wstring(static_cast<std::int32_t>(0x7fffffffLL + i));
    EXPECT_TRUE(ok) << "round " << i;
    verified += ok;
  }
  EXPECT_EQ(verified, kRounds);
  std::printf("[ MEASURE  ] masking round trips verified by the service: %d of %d\n", verified, kRounds);
}

TEST(AccountServiceOverHttp, KnobsMakeTheRepliesTheClientMustRefuse) {
  struct Case {
    const char* knobs;
    int status;
    bool marker;
    int minMs;
  };
  const Case cases[] = {
      {"WrongMarker=1", 200, false, 0},
      {"HttpStatus=503", 503, true, 0},
      {"DelayMs=300", 200, true, 300},
  };
  for (const Case& c : cases) {
    CServiceProcess service(c.knobs, kAccounts);
    ASSERT_TRUE(service.Ready()) << c.knobs;
    const auto t0 = std::chrono::steady_clock::now();
    const Fetched probe = Fetch(BuildProbeRequest(service.HttpBase()));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(probe.status, c.status) << c.knobs;
    EXPECT_EQ(HasReplyMarker(probe.body.data(), probe.body.size()), c.marker) << c.knobs;
    EXPECT_GE(ms, c.minMs) << c.knobs;
  }
  CServiceProcess silent("NoAnswer=1", kAccounts);
  ASSERT_TRUE(silent.Ready());
  CurlPlusLimits limits;
  limits.noStatusTimeoutMs = 500;
  const Fetched none = Fetch(BuildProbeRequest(silent.HttpsBase(), NextRequestRandom, limits));
  EXPECT_EQ(none.status, 0);
  EXPECT_TRUE(none.body.empty());
}

TEST(AccountServiceOverHttp, DownloadsAreAnnouncedWithTheirDigestAndServed) {
  CTempDir files;
  std::string content(300000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 131) >> 3);
  files.Write(L"Quillnet.exe", content);
  CServiceProcess service("", std::string(kAccounts) + "[Downloads]\nDownloadGreen=" +
                                  (files.Path() / "Quillnet.exe").string() + "\n");
  ASSERT_TRUE(service.Ready());
  const Fetched probe = Fetch(BuildProbeRequest(service.HttpBase()));
  ASSERT_EQ(probe.status, 200);
  const std::wstring doc = files.Write(L"QuillnetAnns.ini", probe.body);
  const std::wstring url = IniReadString(doc, L"VPN", L"DownloadGreen", L"");
  EXPECT_EQ(url, service.HttpBase() + L"downloads/Quillnet.exe");

  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  ASSERT_EQ(EVP_Digest(content.data(), content.size(), digest, &length, EVP_md5(), nullptr), 1);
  std::wstring hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += L"0123456789abcdef"[digest[i] >> 4];
    hex += L"0123456789abcdef"[digest[i] & 15];
  }
  EXPECT_EQ(IniReadString(doc, L"VPN", L"DownloadGreenMD5", L""), hex);

  const Fetched download = Fetch(CCurlPlus(url));
  EXPECT_EQ(download.status, 200);
  EXPECT_EQ(download.body, content);
}

class CRecordingOwner : public ILoginHostProbeOwner {
 public:
  void RequestProbeTimer(std::uint32_t id, std::uint32_t ms) override { timers.emplace_back(id, ms); }
  void OnLoginHostWon(const std::wstring& path) override { wins.push_back(path); }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> timers;
  std::vector<std::wstring> wins;
};

void Pump(CMessageQueue& queue, CLoginHostProbe& probe) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (probe.RunningProbes() > 0 && std::chrono::steady_clock::now() < until) {
    auto m = queue.Wait(50);
    if (m && m->message == kLoginHostProbeMessage) probe.OnLoginHostProbeEvent(m->wParam, m->lParam);
  }
}

TEST(AccountServiceOverHttp, HostRaceOverFiveServices) {
  CServiceProcess wrongMarker("WrongMarker=1", kAccounts);
  CServiceProcess never("NoAnswer=1", kAccounts);
  CServiceProcess fastest("DelayMs=50", kAccounts);
  CServiceProcess late("DelayMs=200", kAccounts);
  CServiceProcess later("DelayMs=1000", kAccounts);
  for (auto* s : {&wrongMarker, &never, &fastest, &late, &later}) ASSERT_TRUE(s->Ready());
  CTempDir dir;
  const std::wstring overridePath = dir.File(L"Quillnet.exe.ini");
  const std::wstring anns = dir.File(L"QuillnetAnns.ini");
  IniWriteString(overridePath, L"Main", L"LoginHosts",
                 wrongMarker.HttpBase() + L";" + never.HttpsBase() + L";" + later.HttpBase() + L";" +
                     late.HttpsBase() + L";" + fastest.HttpsBase());
  LoginHostProbeSettings settings{overridePath, anns, {}};
  settings.limits.noStatusTimeoutMs = 1500;
  CMessageQueue queue;
  CRecordingOwner owner;
  int position = -1;
  {
    CLoginHostProbe probe(&queue, &owner, settings, &position);
    ASSERT_EQ(probe.StartLoginHostProbe(), 5u);
    Pump(queue, probe);
    ASSERT_TRUE(probe.HasWinner());
    EXPECT_EQ(probe.LoginBaseUrl(), fastest.HttpsBase());
    EXPECT_EQ(probe.WebSiteUrl(), L"https://127.0.0.1/");
    EXPECT_EQ(owner.wins.size(), 1u);
    EXPECT_TRUE(owner.timers.empty());
    EXPECT_EQ(IniReadString(anns, L"Main", L"LastFastestHostUrl", L""), fastest.HttpsBase());
    EXPECT_EQ(IniReadString(anns, L"VPN", L"ClientIP", L""), L"127.0.0.1");
  }
  // Next run: the remembered host is tried first, alone, and wins again.
  position = -1;
  {
    CLoginHostProbe probe(&queue, &owner, settings, &position);
    ASSERT_EQ(probe.StartLoginHostProbe(), 1u);
    EXPECT_EQ(probe.LastProbedUrls(), std::vector<std::wstring>{fastest.HttpsBase()});
    Pump(queue, probe);
    EXPECT_EQ(probe.LoginBaseUrl(), fastest.HttpsBase());
  }
  // A race without a winner asks for the retry, which takes the next list.
  IniWriteString(overridePath, L"Main", L"LoginHosts", wrongMarker.HttpBase() + L";" + never.HttpBase());
  RemoveFile(anns);
  owner.timers.clear();
  position = -1;
  CLoginHostProbe probe(&queue, &owner, settings, &position);
  ASSERT_EQ(probe.StartLoginHostProbe(), 2u);
  EXPECT_EQ(position, 1);
  Pump(queue, probe);
  EXPECT_FALSE(probe.HasWinner());
  ASSERT_EQ(owner.timers.size(), 1u);
  EXPECT_EQ(owner.timers[0], std::make_pair(kLoginHostProbeTimerId, kLoginHostProbeRetryMs));
  probe.OnRetryTimer();
  EXPECT_EQ(position, 2);
  EXPECT_EQ(probe.RunningProbes(), 2u);
}

}  // namespace
