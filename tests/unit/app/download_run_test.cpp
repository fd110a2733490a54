#include "app/download_run.h"

#include <gtest/gtest.h>

#include <chrono>

#include "account/account_service.h"
#include "app/online_update.h"
#include "fakes/temp_dir.h"
#include "platform/file_io.h"
#include "fakes/test_http_server.h"
#include "text/text_table.h"

namespace {

CTestHttpServer::Handler Reply(int status, std::string body, int delayMs = 0) {
  return [=](const TestHttpRequest&) {
    TestHttpReply r{status, body};
    r.delayMs = delayMs;
    return r;
  };
}

// Pumps the run's events until it is over (bounded).
void Drive(CMessageQueue& queue, CDownloadRun& run) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (run.GetState() == CDownloadRun::State::Running && std::chrono::steady_clock::now() < until)
    if (auto m = queue.Wait(20)) run.OnTransferEvent(m->wParam, m->lParam);
}

CurlPlusLimits Short() {
  CurlPlusLimits l;
  l.connectTimeoutMs = 3000;
  l.noStatusTimeoutMs = 3000;
  return l;
}

TEST(DownloadRun, FirstAcceptableReplyWins) {
  const std::string good = "[VPN]\r\nMagicTag=VpnServerResponse\r\nAuthResult=OK\r\n";
  CTestHttpServer wrongMarker(Reply(200, "[VPN]\r\nMagicTag=VpnServerResponsX\r\n"));
  CTestHttpServer error(Reply(500, good));
  CTestHttpServer slowGood(Reply(200, good, 150));
  for (auto* s : {&wrongMarker, &error, &slowGood}) ASSERT_TRUE(s->Ok());
  struct Case {
    const char* name;
    std::vector<CTestHttpServer*> servers;
    bool checkMarker;
    CDownloadRun::State state;
    int winner;
  } cases[] = {
      {"only the good one counts", {&wrongMarker, &error, &slowGood}, true, CDownloadRun::State::Accepted, 2},
      {"none acceptable", {&wrongMarker, &error}, true, CDownloadRun::State::Failed, -1},
      {"the marker is not asked for", {&error, &wrongMarker}, false, CDownloadRun::State::Accepted, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMessageQueue queue;
    CDownloadRun run(&queue);
    run.SetCheckMarker(c.checkMarker);
    std::vector<std::string> written;
    run.SetSink([&](const std::string& body) {
      written.push_back(body);
      return true;
    });
    for (CTestHttpServer* s : c.servers) run.AddRequest(CCurlPlus(s->BaseUrl() + L"client.php", Short()));
    const CDownloadRun::StartReport report = run.Start();
    EXPECT_FALSE(report.noRequest);
    EXPECT_EQ(report.notStarted, 0);
    Drive(queue, run);
    EXPECT_EQ(run.GetState(), c.state);
    EXPECT_EQ(run.Winner(), c.winner);
    EXPECT_EQ(written.size(), c.winner >= 0 ? 1u : 0u);
    EXPECT_FALSE(run.UserCancelled());
  }
}

TEST(DownloadRun, EmptyRouteReplyIsAnEmptyListAndAFailingSinkIsNoReply) {
  CTestHttpServer empty(Reply(200, ""));
  ASSERT_TRUE(empty.Ok());
  {
    CMessageQueue queue;
    CDownloadRun run(&queue);
    run.SetCheckMarker(false);
    std::string got = "unset";
    run.SetSink([&](const std::string& body) {
      got = body;
      return true;
    });
    run.AddRequest(CCurlPlus(empty.BaseUrl(), Short()));
    run.Start();
    Drive(queue, run);
    EXPECT_EQ(run.GetState(), CDownloadRun::State::Accepted);
    EXPECT_EQ(got, "");
  }
  {
    // With the marker asked for, an empty body is refused.
    CMessageQueue queue;
    CDownloadRun run(&queue);
    run.AddRequest(CCurlPlus(empty.BaseUrl(), Short()));
    run.Start();
    Drive(queue, run);
    EXPECT_EQ(run.GetState(), CDownloadRun::State::Failed);
  }
  {
    CTestHttpServer good(Reply(200, "MagicTag=VpnServerResponse\r\n"));
    CMessageQueue queue;
    CDownloadRun run(&queue);
    run.SetSink([](const std::string&) { return false; });
    run.AddRequest(CCurlPlus(good.BaseUrl(), Short()));
    run.Start();
    Drive(queue, run);
    EXPECT_EQ(run.GetState(), CDownloadRun::State::Failed);
  }
}

TEST(DownloadRun, NoRequestAndRequestsThatCannotStart) {
  CMessageQueue queue;
  {
    CDownloadRun run(&queue);
    EXPECT_TRUE(run.Start().noRequest);
    EXPECT_EQ(run.GetState(), CDownloadRun::State::Running) << "waits for the user's Cancel";
    run.CancelByUser();
    EXPECT_EQ(run.GetState(), CDownloadRun::State::Failed);
    EXPECT_TRUE(run.UserCancelled());
  }
  {
    CDownloadRun run(&queue);
    run.AddRequest(CCurlPlus());  // an empty handle never starts
    const CDownloadRun::StartReport report = run.Start();
    EXPECT_EQ(report.notStarted, 1);
    EXPECT_EQ(run.GetState(), CDownloadRun::State::Failed) << "nothing left that could still answer";
    EXPECT_FALSE(run.UserCancelled());
  }
}

TEST(DownloadRun, CancelReleasesASilentTransferAndLaterEventsAreIgnored) {
  CTestHttpServer silent([](const TestHttpRequest&) {
    TestHttpReply r;
    r.hang = true;
    return r;
  });
  ASSERT_TRUE(silent.Ok());
  CMessageQueue queue;
  CDownloadRun run(&queue);
  CCurlPlus request(silent.BaseUrl(), Short());
  const std::intptr_t id = request.EventId();
  run.AddRequest(request);
  request = CCurlPlus();
  run.Start();
  run.CancelByUser();
  EXPECT_EQ(run.GetState(), CDownloadRun::State::Failed);
  EXPECT_TRUE(run.UserCancelled());
  run.OnTransferEvent(kCurlEventEnded, id);
  EXPECT_EQ(run.Winner(), -1);
}

class CRecordingDownloadView : public IUpdateDownloadView {
 public:
  void ShowProgressBar(bool known) override { bars.push_back(known); }
  void SetProgress(int percent) override { progress.push_back(percent); }
  void SetStatusText(const std::wstring& text) override { status.push_back(text); }
  void ShowMessage(const std::wstring& text, BoxIcon) override { boxes.push_back(text); }
  std::vector<bool> bars;
  std::vector<int> progress;
  std::vector<std::wstring> status, boxes;
};

TEST(UpdateDownloadRun, ProgressOfAnAnnouncedSizeAndWriteFailure) {
  LoadTextTable();
  CTempDir dir;
  const std::string body(200000, 'x');
  CTestHttpServer sized(Reply(200, body));
  ASSERT_TRUE(sized.Ok());
  {
    CMessageQueue queue;
    CRecordingDownloadView view;
    const std::wstring path = dir.File(L"sized.bin");
    CUpdateDownloadRun run(&queue, view, sized.BaseUrl() + L"file", path);
    Tick now = 1000;
    ASSERT_TRUE(run.Open(now));
    EXPECT_EQ(view.status.front(), GetText("ConnectingToOnlineUpdateServer"));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!run.Ended() && std::chrono::steady_clock::now() < until)
      if (auto m = queue.Wait(20)) run.OnTransferEvent(m->wParam, m->lParam, now += 1500);
    ASSERT_TRUE(run.Ended());
    EXPECT_EQ(dir.Read(L"sized.bin"), body);
    // The busy bar while connecting, the progress bar once the size is known.
    EXPECT_EQ(view.bars, (std::vector<bool>{false, true}));
    ASSERT_FALSE(view.progress.empty());
    EXPECT_EQ(view.progress.back(), 100);
    EXPECT_EQ(view.status.back().find(GetText("DownloadingUpdateFileSpeed")), 0u);
  }
  CMessageQueue queue;
  CRecordingDownloadView view;
  CUpdateDownloadRun run(&queue, view, sized.BaseUrl(), dir.File(L"no-such-folder/file.bin"));
  EXPECT_FALSE(run.Open(0));
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0], L"Can not write file: " + dir.File(L"no-such-folder/file.bin"));
}

TEST(UpdateDownloadRun, ABrokenOffTransferNamesItsCauseAndLeavesNoFile) {
  LoadTextTable();
  CTempDir dir;
  const std::string body(5000, 'x');
  TestHttpReply trickle{200, body};
  trickle.chunkSize = 1;
  trickle.chunkDelayMs = 400;
  CTestHttpServer whole(Reply(200, body));
  CTestHttpServer slow([=](const TestHttpRequest&) { return trickle; });
  CTestHttpServer missing(Reply(404, "no such file"));
  CTestHttpServer selfSigned(Reply(200, body), true);
  for (auto* s : {&whole, &slow, &missing, &selfSigned}) ASSERT_TRUE(s->Ok());
  // The stall limit, brought down from a minute so the case takes seconds:
  // under 100 bytes a second for 2 s.
  CurlPlusLimits stallSoon = Short();
  stallSoon.stallBytesPerSecond = 100;
  stallSoon.stallSeconds = 2;
  CurlPlusLimits smallCap = Short();
  smallCap.maxFileBytes = 1000;
  struct Case {
    const char* name;
    CTestHttpServer* server;
    CurlPlusLimits limits;
    TransferFailure failure;
  } cases[] = {
      {"the whole body", &whole, Short(), TransferFailure::None},
      {"a trickle", &slow, stallSoon, TransferFailure::Stalled},
      {"an error status", &missing, Short(), TransferFailure::Other},
      {"a certificate nobody vouches for", &selfSigned, Short(), TransferFailure::Certificate},
      {"more than the cap", &whole, smallCap, TransferFailure::TooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CMessageQueue queue;
    CRecordingDownloadView view;
    const std::wstring path = dir.File(L"update.bin");
    CUpdateDownloadRun run(&queue, view, c.server->BaseUrl() + L"file", path, c.limits);
    ASSERT_TRUE(run.Open(1000));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!run.Ended() && std::chrono::steady_clock::now() < until)
      if (auto m = queue.Wait(20)) run.OnTransferEvent(m->wParam, m->lParam, 1000);
    ASSERT_TRUE(run.Ended()) << "the transfer never ended";
    EXPECT_EQ(run.Failure(), c.failure);
    EXPECT_EQ(FileExists(path), c.failure == TransferFailure::None) << "a partial download stayed on disk";
    if (c.failure == TransferFailure::None) EXPECT_EQ(dir.Read(L"update.bin"), body);
    RemoveFile(path);
  }
}

}  // namespace
