// The named-pipe route request server with real pipe clients. Routes go
// into the in-memory table (Wine does not change routes).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "accel/route_request_pipe_server.h"
#include "fakes/fake_forward_table.h"
#include "fakes/route_request_bytes.h"
#include "platform/win32.h"

namespace {

class CPipeClient {
 public:
  // Busy pipes are waited for up to `patienceMs`.
  CPipeClient(const std::wstring& name, DWORD patienceMs = 5000) {
    const DWORD start = GetTickCount();
    for (;;) {
      pipe_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (pipe_ != INVALID_HANDLE_VALUE) break;
      lastError_ = GetLastError();
      if (GetTickCount() - start >= patienceMs) return;
      if (lastError_ == ERROR_PIPE_BUSY) WaitNamedPipeW(name.c_str(), 50);
      else Sleep(10);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
  }
  ~CPipeClient() { Close(); }
  void Close() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
  }
  bool Connected() const { return pipe_ != INVALID_HANDLE_VALUE; }
  DWORD LastError() const { return lastError_; }
  bool Send(const std::vector<unsigned char>& bytes) {
    DWORD written = 0;
    return WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }
  // The reply byte, or -1 when the pipe broke.
  int Reply() {
    unsigned char b = 0;
    DWORD read = 0;
    return ReadFile(pipe_, &b, 1, &read, nullptr) && read == 1 ? b : -1;
  }
  int Ask(const std::vector<unsigned char>& bytes) { return Send(bytes) ? Reply() : -3; }

 private:
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  DWORD lastError_ = 0;
};

class PipeServer : public ::testing::Test {
 protected:
  void SetUp() override {
    SetUpHomeNetwork(table);
    baseline = table.CountRows();
    templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
    static int counter = 0;
    name = L"\\\\.\\pipe\\qr-route-request-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++);
    server = std::make_unique<CVpnRouteRequestPipeServer>(table, name, [this] { return now.load(); });
  }
  bool Host(std::uint32_t a) const {
    ForwardRow r = templ;
    r.destination = a;
    r.mask = 0xFFFFFFFFu;
    return table.Has(r);
  }

  std::atomic<Tick> now{5000};
  CFakeForwardTable table;
  std::size_t baseline = 0;
  ForwardRow templ;
  std::wstring name;
  std::unique_ptr<CVpnRouteRequestPipeServer> server;
};

TEST_F(PipeServer, AnswersRequestsInOrderOnOneConnection) {
  ASSERT_TRUE(server->Start(templ));
  EXPECT_FALSE(server->Start(templ));
  CPipeClient client(name);
  ASSERT_TRUE(client.Connected()) << client.LastError();
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    int reply;
  } cases[] = {
      {"route", Request(Address(93, 184, 216, 34)), 1},
      {"again", Request(Address(93, 184, 216, 34)), 1},
      {"four bytes", {1, 2, 3, 4}, 0},
      {"six bytes", {1, 2, 3, 4, 5, 6}, 0},
      {"command 2", Request(Address(8, 8, 8, 8), 2), 0},
      {"address 0", Request(0), 0},
      {"another", Request(Address(8, 8, 8, 8)), 1},
  };
  for (const Case& c : cases) EXPECT_EQ(client.Ask(c.bytes), c.reply) << c.what;
  EXPECT_EQ(table.CountRows(), baseline + 2);
  client.Close();
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_F(PipeServer, ManyConcurrentClients) {
  ASSERT_TRUE(server->Start(templ));
  constexpr int kClients = 16, kEach = 40;
  std::atomic<int> ones{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kClients; ++c)
    threads.emplace_back([&, c] {
      CPipeClient client(name);
      for (int i = 0; i < kEach && client.Connected(); ++i)
        if (client.Ask(Request(Address(100, c, i, 1))) == 1) ++ones;
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ones.load(), kClients * kEach);
  EXPECT_EQ(table.CountRows(), baseline + kClients * kEach);
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_F(PipeServer, OversizedSilentAndVanishingClients) {
  ASSERT_TRUE(server->Start(templ));
  CPipeClient silent(name);
  ASSERT_TRUE(silent.Connected());
  {
    CPipeClient big(name);
    ASSERT_TRUE(big.Connected());
    big.Send(std::vector<unsigned char>(5000, 1));
    EXPECT_EQ(big.Reply(), -1);  // the instance was closed
  }
  for (int i = 0; i < 3; ++i) {
    CPipeClient leaving(name);
    ASSERT_TRUE(leaving.Send(Request(Address(20, 0, 0, i + 1))));
  }
  CPipeClient client(name);
  EXPECT_EQ(client.Ask(Request(Address(20, 0, 0, 9))), 1);
  server->Stop();  // returns with the silent client still connected
  EXPECT_EQ(table.CountRows(), baseline);
}

// Clients that connect and leave at once, many at a time: one may come and
// go before the server listens on a fresh instance, and the server must
// still listen afterwards.
TEST_F(PipeServer, ClientsVanishingInBurstsLeaveTheServerListening) {
  ASSERT_TRUE(server->Start(templ));
  std::vector<std::thread> threads;
  std::atomic<int> connected{0};
  std::atomic<bool> refused{false};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 150 && !refused; ++i) {
        CPipeClient leaving(name, 5000);
        if (leaving.Connected()) ++connected;
        else refused = true;  // a deaf server: no use waiting for it 600 times
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(connected.load(), 600);
  CPipeClient client(name, 10000);
  ASSERT_TRUE(client.Connected()) << client.LastError();
  EXPECT_EQ(client.Ask(Request(Address(21, 0, 0, 1))), 1);
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_F(PipeServer, BeyondSixtyTwoInstancesClientsFindThePipeBusy) {
  ASSERT_TRUE(server->Start(templ));
  std::vector<std::unique_ptr<CPipeClient>> clients;
  for (int i = 0; i < kRouteRequestMaxInstances; ++i) {
    clients.push_back(std::make_unique<CPipeClient>(name));
    ASSERT_EQ(clients.back()->Ask(Request(Address(30, 0, 0, i + 1))), 1) << i;
  }
  CPipeClient refused(name, 300);
  EXPECT_FALSE(refused.Connected());
  clients[0]->Close();
  CPipeClient next(name);
  ASSERT_TRUE(next.Connected()) << next.LastError();
  EXPECT_EQ(next.Ask(Request(Address(31, 0, 0, 1))), 1);
  clients.clear();
  next.Close();
  server->Stop();
  EXPECT_EQ(table.CountRows(), baseline);
}

TEST_F(PipeServer, ExpiryAtSixMinutesOnTheNextConnection) {
  server->AddKeptRoute(L"10.8.0.1", L"255.255.255.255");
  ASSERT_TRUE(server->Start(templ));
  const Tick start = now.load();
  {
    CPipeClient c(name);
    EXPECT_EQ(c.Ask(Request(Address(1, 1, 1, 1))), 1);
    EXPECT_EQ(c.Ask(Request(Address(10, 8, 0, 1))), 1);
  }
  auto connectAt = [&](Tick t) {
    now = t;
    CPipeClient c(name);
    return c.Ask(Request(Address(3, 3, 3, 3)));
  };
  EXPECT_EQ(connectAt(start + 359000), 1);
  EXPECT_TRUE(Host(Address(1, 1, 1, 1)));
  EXPECT_EQ(connectAt(start + 360000), 1);
  EXPECT_FALSE(Host(Address(1, 1, 1, 1)));
  EXPECT_TRUE(Host(Address(10, 8, 0, 1)));
  server->Stop();
  EXPECT_FALSE(Host(Address(10, 8, 0, 1)));
  EXPECT_EQ(table.CountRows(), baseline);
  // The stop event serves the next start.
  ASSERT_TRUE(server->Start(templ));
  CPipeClient again(name);
  EXPECT_EQ(again.Ask(Request(Address(4, 4, 4, 4))), 1);
}

TEST(WinForwardTable, ReadsTheSystemTableAndAdapters) {
  auto table = CreateSystemForwardTable();
  std::vector<ForwardRow> rows;
  EXPECT_EQ(table->ReadForwardTable(rows), 0u);
  std::vector<AdapterAddress> adapters;
  const std::uint32_t status = table->ListAdapters(adapters);
  EXPECT_TRUE(status == 0 || status == ERROR_NO_DATA) << status;
  std::vector<AdapterDnsServers> dns;
  EXPECT_EQ(table->ListAdapterDns(dns), 0u);
  std::vector<InterfaceMetric> metrics;
  table->ReadInterfaceMetrics(metrics);  // may be missing; must not crash
}

}  // namespace
