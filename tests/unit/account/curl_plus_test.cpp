#include "account/curl_plus.h"
#include "account/trust_anchors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "fakes/temp_dir.h"
#include "fakes/test_http_server.h"
#include "fakes/transfer_wait.h"
#include "platform/file_io.h"
#include "platform/strings.h"

namespace {

constexpr std::uint32_t kMsg = kWmUser + 1;

std::string Scrambled(std::string text, unsigned char key) {
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) ^ key);
  return text;
}

long long MsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
}

TEST(CurlPlusForm, EncodesFieldsInOrder) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> fields;
    std::string body;
  };
  const Case cases[] = {
      {{{"v", "2.3.0.2"}, {"l", "en"}, {"xor", "17"}}, "v=2%2e3%2e0%2e2&l=en&xor=17"},
      {{{"u", "a b+c=d"}}, "u=a%20b%2bc%3dd"},
      {{{"u", "\xe9\x7f\x01"}}, "u=%e9%7f%01"},
      {{{"p", ""}, {"s", ""}}, "p=&s="},
      {{{"k", "AZaz09-_.~/"}}, "k=AZaz09%2d%5f%2e%7e%2f"},
  };
  for (const Case& c : cases) {
    CCurlPlus t(L"http://127.0.0.1:9/");
    for (const auto& [k, v] : c.fields) t.AddField(k, v);
    EXPECT_EQ(t.PostBody(), c.body);
  }
}

TEST(CurlPlus, UnscramblesAPostedFormReplyAndReportsInOrder) {
  using namespace std::string_literals;
  const std::string text = "[VPN]\nMagicTag=VpnServerResponse\nAuthResult=OK\n\xff\x00tail"s;
  CTestHttpServer server([&](const TestHttpRequest&) { return TestHttpReply{200, Scrambled(text, 0x2a)}; });
  ASSERT_TRUE(server.Ok());
  CMessageQueue queue;
  CCurlPlus t(server.BaseUrl() + L"client.php");
  t.AddField("xor", "42");
  t.SetScrambleKey(0x2a);
  t.SetNotify(&queue, kMsg);
  ASSERT_TRUE(t.Start());
  const auto kinds = WaitForTransferEnd(queue, t.EventId(), 10000);
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ(kinds.back(), kCurlEventEnded);
  EXPECT_EQ(std::count(kinds.begin(), kinds.end(), kCurlEventStatusOk), 1);
  EXPECT_GE(std::count(kinds.begin(), kinds.end(), kCurlEventProgress), 1);
  EXPECT_EQ(kinds.front(), kCurlEventStatusOk) << "event 1 comes before any event 2";
  EXPECT_EQ(t.ResponseCode(), 200);
  EXPECT_EQ(t.ReceivedCount(), text.size());
  EXPECT_EQ(t.TakeReceived(), text);
  EXPECT_EQ(t.TakeReceived(), "") << "the body is moved out once";
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/client.php");
  EXPECT_EQ(requests[0].body, "xor=42");
}

TEST(CurlPlus, AnErrorStatusIsReceivedWithoutProgressEvents) {
  CTestHttpServer server([](const TestHttpRequest&) { return TestHttpReply{404, "no such page"}; });
  ASSERT_TRUE(server.Ok());
  CMessageQueue queue;
  CCurlPlus t(server.BaseUrl() + L"missing");
  t.SetNotify(&queue, kMsg);
  ASSERT_TRUE(t.Start());
  const auto kinds = WaitForTransferEnd(queue, t.EventId(), 10000);
  EXPECT_EQ(kinds, std::vector<std::uintptr_t>{kCurlEventEnded});
  EXPECT_EQ(t.ResponseCode(), 404);
  EXPECT_EQ(t.TakeReceived(), "no such page");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].method, "GET") << "no fields, no form";
}

TEST(CurlPlus, TakeReceivedWhileRunningLeavesTheBodyInPlace) {
  const std::string body(64 * 1024, 'q');
  CTestHttpServer server([&](const TestHttpRequest&) {
    TestHttpReply r{200, body};
    r.chunkSize = 1024;
    r.chunkDelayMs = 300;  // the first piece arrives long before the rest
    return r;
  });
  ASSERT_TRUE(server.Ok());
  CMessageQueue queue;
  CCurlPlus t(server.BaseUrl());
  t.SetNotify(&queue, kMsg);
  ASSERT_TRUE(t.Start());
  auto first = queue.Wait(10000);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->wParam, kCurlEventStatusOk);
  // Status 200 can be known before the first piece is written: wait for it.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (t.ReceivedCount() == 0 && std::chrono::steady_clock::now() < until) queue.Wait(50);
  ASSERT_GT(t.ReceivedCount(), 0u);
  EXPECT_TRUE(t.Running());
  EXPECT_EQ(t.TakeReceived(), "");
  t.Cancel();  // no need to wait for all 64 pieces
  const auto kinds = WaitForTransferEnd(queue, t.EventId(), 10000);
  ASSERT_FALSE(kinds.empty());
  const std::string got = t.TakeReceived();
  EXPECT_FALSE(got.empty()) << "what arrived before the cancel is still there";
  EXPECT_EQ(got, body.substr(0, got.size()));
}

TEST(CurlPlus, AnAddressThatNeverAnswersEndsAtTheConnectLimit) {
  CSilentListener silent;
  ASSERT_TRUE(silent.Ok());
  CMessageQueue queue;
  CurlPlusLimits limits;
  limits.connectTimeoutMs = 700;
  CCurlPlus t(silent.BaseUrl() + L"client.php", limits);
  t.AddField("v", "2.3.0.2");
  t.SetNotify(&queue, kMsg);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(t.Start());
  const auto kinds = WaitForTransferEnd(queue, t.EventId(), 10000);
  const long long elapsed = MsSince(t0);
  EXPECT_EQ(kinds, std::vector<std::uintptr_t>{kCurlEventEnded});
  EXPECT_EQ(t.ResponseCode(), 0);
  EXPECT_GE(elapsed, 600);
  EXPECT_LT(elapsed, 5000);
  EXPECT_NE(t.Result(), 0);
}

TEST(CurlPlus, AServerWithoutStatusIsAbandonedAtTheNoStatusLimit) {
  CTestHttpServer server([](const TestHttpRequest&) {
    TestHttpReply r;
    r.hang = true;
    return r;
  });
  ASSERT_TRUE(server.Ok());
  CMessageQueue queue;
  CurlPlusLimits limits;
  limits.noStatusTimeoutMs = 800;
  CCurlPlus t(server.BaseUrl(), limits);
  t.SetNotify(&queue, kMsg);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(t.Start());
  const auto kinds = WaitForTransferEnd(queue, t.EventId(), 10000);
  const long long elapsed = MsSince(t0);
  EXPECT_EQ(kinds, std::vector<std::uintptr_t>{kCurlEventEnded});
  EXPECT_EQ(t.ResponseCode(), 0);
  EXPECT_GE(elapsed, 750);
  EXPECT_LT(elapsed, 5000);
}

TEST(CurlPlus, DroppingARunningTransferWaitsForItsWorker) {
  CTestHttpServer server([](const TestHttpRequest&) {
    TestHttpReply r;
    r.hang = true;
    return r;
  });
  ASSERT_TRUE(server.Ok());
  CMessageQueue queue;
  std::intptr_t id = 0;
  {
    CCurlPlus t(server.BaseUrl());
    t.SetNotify(&queue, kMsg);
    id = t.EventId();
    ASSERT_TRUE(t.Start());
    // Until the server holds the request, the transfer is surely running.
    for (int i = 0; i < 500 && server.Requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(server.Requests().size(), 1u);
    CCurlPlus copy = t;  // a copy going away must not end the transfer
    EXPECT_EQ(copy.EventId(), id);
  }
  // The worker posts its end as its last act; after the drop it must be queued.
  const auto m = queue.TryTake();
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->wParam, kCurlEventEnded);
  EXPECT_EQ(m->lParam, id);
}

TEST(CurlPlus, ABodyBeyondTheCapIsDroppedWhole) {
  const std::string body(8000, 'x');
  CTestHttpServer server([&](const TestHttpRequest&) { return TestHttpReply{200, body}; });
  ASSERT_TRUE(server.Ok());
  CMessageQueue queue;
  CurlPlusLimits limits;
  limits.maxReceivedBytes = 5000;
  CCurlPlus t(server.BaseUrl(), limits);
  t.SetNotify(&queue, kMsg);
  ASSERT_TRUE(t.Start());
  const auto kinds = WaitForTransferEnd(queue, t.EventId(), 10000);
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ(kinds.back(), kCurlEventEnded);
  EXPECT_TRUE(t.Overflowed());
  EXPECT_EQ(t.TakeReceived(), "");
}

TEST(CurlPlus, OutputFileTakesTheUnscrambledBody) {
  const std::string body(100000, '\x55');
  CTestHttpServer server([&](const TestHttpRequest&) { return TestHttpReply{200, Scrambled(body, 7)}; });
  ASSERT_TRUE(server.Ok());
  CTempDir dir;
  const std::wstring path = dir.File(L"download.bin");
  std::FILE* file = std::fopen((dir.Path() / "download.bin").string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  CMessageQueue queue;
  CurlPlusLimits limits;
  limits.maxReceivedBytes = 1000;  // the cap is for memory only
  CCurlPlus t(server.BaseUrl(), limits);
  t.SetScrambleKey(7);
  t.SetOutputFile(file);
  t.SetNotify(&queue, kMsg);
  ASSERT_TRUE(t.Start());
  WaitForTransferEnd(queue, t.EventId(), 10000);
  std::fclose(file);
  EXPECT_EQ(t.ResponseCode(), 200);
  EXPECT_EQ(t.ReceivedCount(), body.size());
  EXPECT_EQ(t.ContentLength(), static_cast<double>(body.size()));
  EXPECT_EQ(t.TakeReceived(), "");
  EXPECT_EQ(dir.Read(L"download.bin"), body);
}

TEST(CurlPlus, ADownloadStopsAtTheFileCap) {
  const std::string body(300000, '\x55');
  struct Case {
    const char* name;
    std::uint64_t cap;
    bool stopped;
  };
  const Case cases[] = {
      {"under the cap", 400000, false},
      {"over the cap", 100000, true},
  };
  for (const Case& c : cases) {
    CTestHttpServer server([&](const TestHttpRequest&) { return TestHttpReply{200, body}; });
    ASSERT_TRUE(server.Ok());
    CTempDir dir;
    std::FILE* file = std::fopen((dir.Path() / "download.bin").string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    CMessageQueue queue;
    CurlPlusLimits limits;
    limits.maxFileBytes = c.cap;
    CCurlPlus t(server.BaseUrl(), limits);
    t.SetOutputFile(file);
    t.SetNotify(&queue, kMsg);
    ASSERT_TRUE(t.Start());
    WaitForTransferEnd(queue, t.EventId(), 10000);
    std::fclose(file);
    EXPECT_LE(dir.Read(L"download.bin").size(), c.stopped ? c.cap : body.size()) << c.name;
    EXPECT_EQ(dir.Read(L"download.bin").size() == body.size(), !c.stopped) << c.name;
    EXPECT_EQ(t.Result() != 0, c.stopped) << c.name << ": libcurl result " << t.Result();
  }
}

TEST(CurlPlus, HandlesThatCannotOrMayNotStart) {
  CCurlPlus empty;
  EXPECT_FALSE(empty.Start());
  EXPECT_EQ(empty.Result(), 2);
  EXPECT_EQ(empty.ResponseCode(), 0);

  CTestHttpServer server([](const TestHttpRequest&) { return TestHttpReply{200, "x"}; });
  ASSERT_TRUE(server.Ok());
  CMessageQueue queue;
  CCurlPlus t(server.BaseUrl());
  CCurlPlus other(server.BaseUrl());
  EXPECT_NE(t.EventId(), other.EventId());
  t.SetNotify(&queue, kMsg);
  ASSERT_TRUE(t.Start());
  EXPECT_FALSE(t.Start()) << "a transfer runs once";
  WaitForTransferEnd(queue, t.EventId(), 10000);
  EXPECT_EQ(t.TakeReceived(), "x");
}

TEST(CurlPlus, ARefusedConnectionEndsAtOnceWithStatusZero) {
  std::uint16_t port = 0;
  const TestSocket s = TestListenLoopback(1, port);
  ASSERT_NE(s, kNoTestSocket);
  TestCloseSocket(s);  // nothing listens there now
  CMessageQueue queue;
  CCurlPlus t(L"http://127.0.0.1:" + std::to_wstring(port) + L"/client.php");
  t.SetNotify(&queue, kMsg);
  ASSERT_TRUE(t.Start());
  EXPECT_EQ(WaitForTransferEnd(queue, t.EventId(), 10000), std::vector<std::uintptr_t>{kCurlEventEnded});
  EXPECT_EQ(t.ResponseCode(), 0);
  EXPECT_EQ(t.TakeReceived(), "");
}

}  // namespace

namespace {

TEST(CurlPlus, OnlyADownloadFollowsARedirectAndOnlyToHttps) {
  CTestHttpServer plainTarget([](const TestHttpRequest&) { return TestHttpReply{200, "moved here"}; });
  CTestHttpServer tlsTarget([](const TestHttpRequest&) { return TestHttpReply{200, "moved here"}; }, true);
  ASSERT_TRUE(plainTarget.Ok());
  ASSERT_TRUE(tlsTarget.Ok());
  ASSERT_TRUE(SetExtraTrustAnchorsPem(tlsTarget.CertificatePem()));
  struct Case {
    const char* name;
    std::string location;
    bool post;
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"a download sent on to https", WideToUtf8(tlsTarget.BaseUrl()) + "page", false, 200, "moved here"},
      {"a download sent on to plain http", WideToUtf8(plainTarget.BaseUrl()) + "page", false, 302, ""},
      {"a download sent on to a file", "file:///etc/hostname", false, 302, ""},
      {"a form sent on to https", WideToUtf8(tlsTarget.BaseUrl()) + "page", true, 302, ""},
  };
  for (const Case& c : cases) {
    CTestHttpServer server([&](const TestHttpRequest&) {
      TestHttpReply r{302, ""};
      r.extraHeaders = "Location: " + c.location + "\r\n";
      return r;
    });
    ASSERT_TRUE(server.Ok());
    CMessageQueue queue;
    CCurlPlus t(server.BaseUrl());
    if (c.post) t.AddField("p", "secret");
    t.SetNotify(&queue, kMsg);
    ASSERT_TRUE(t.Start());
    WaitForTransferEnd(queue, t.EventId(), 10000);
    EXPECT_EQ(t.ResponseCode(), c.status) << c.name;
    EXPECT_EQ(t.TakeReceived(), c.body) << c.name;
  }
  for (const CTestHttpServer* target : {&plainTarget, &tlsTarget})
    for (const TestHttpRequest& r : target->Requests())
      EXPECT_EQ(r.body.find("secret"), std::string::npos) << "a form was sent on to " << r.target;
  ClearExtraTrustAnchors();
  CCurlPlus local(L"file:///etc/hostname");
  CMessageQueue queue;
  local.SetNotify(&queue, kMsg);
  ASSERT_TRUE(local.Start());
  WaitForTransferEnd(queue, local.EventId(), 10000);
  EXPECT_EQ(local.TakeReceived(), "");
  EXPECT_EQ(local.ResponseCode(), 0);
}

}  // namespace

namespace {

TEST(CurlPlus, HttpsCarriesARequestOnlyToACertificateTheClientTrusts) {
  const std::string text = "[VPN]\r\nMagicTag=VpnServerResponse\r\n" + std::string(50000, 'z');
  struct Case {
    const char* name;
    bool trustIt;
    bool accepted;
  };
  const Case cases[] = {
      {"a certificate nobody vouches for", false, false},
      {"the same certificate named as an extra anchor", true, true},
  };
  for (const Case& c : cases) {
    CTestHttpServer server([&](const TestHttpRequest& r) { return TestHttpReply{200, Scrambled(text + r.body, 0x91)}; },
                           true);
    ASSERT_TRUE(server.Ok());
    ASSERT_EQ(server.BaseUrl().rfind(L"https://", 0), 0u);
    if (c.trustIt)
      ASSERT_TRUE(SetExtraTrustAnchorsPem(server.CertificatePem()));
    else
      ClearExtraTrustAnchors();
    CMessageQueue queue;
    CCurlPlus t(server.BaseUrl() + L"client.php");
    t.AddField("cmd", "login");
    t.SetScrambleKey(0x91);
    t.SetNotify(&queue, kMsg);
    ASSERT_TRUE(t.Start());
    const auto kinds = WaitForTransferEnd(queue, t.EventId(), 10000);
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.back(), kCurlEventEnded);
    EXPECT_EQ(t.ResponseCode(), c.accepted ? 200 : 0) << c.name;
    EXPECT_EQ(t.TakeReceived(), c.accepted ? text + "cmd=login" : "") << c.name;
    EXPECT_EQ(t.CertificateRefused(), !c.accepted) << c.name << ": " << t.ErrorText();
    EXPECT_EQ(server.Requests().empty(), !c.accepted) << c.name << ": the form reached an unverified server";
  }
  ClearExtraTrustAnchors();
}

}  // namespace
