// What other processes send the route request server, message by message:
// the reply is always 0 or 1, 1 only for a well-formed request whose host
// route is then in the table, and once the server stops no route of ours is
// left, however many were asked for.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "accel/route_request_server.h"
#include "fakes/fake_forward_table.h"
#include "fuzz_input.h"

namespace {

// The server without a transport: the fuzzer delivers the messages.
class CQuietServer : public CVpnRouteRequestBaseServer {
 public:
  using CVpnRouteRequestBaseServer::CVpnRouteRequestBaseServer;
  ~CQuietServer() override { Stop(); }

 protected:
  void Run() override {
    std::unique_lock<std::mutex> lock(m_);
    stopped_.wait(lock, [this] { return stop_; });
    stop_ = false;
  }
  void SignalStop() override {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    stopped_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable stopped_;
  bool stop_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CFuzzInput in(data, size);
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const std::size_t baseline = table.CountRows();
  Tick now = 1000 + in.Number(0xFFFF) * 0x10000u;  // sometimes close to the wrap
  CQuietServer server(table, [&] { return now; });
  if (in.Byte() & 1) server.AddKeptRoute(L"10.8.0.1", L"255.255.255.255");
  ForwardRow templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
  FUZZ_CHECK(server.Start(templ));
  while (!in.Empty()) {
    const std::uint8_t op = in.Byte();
    now += (op & 0x80) ? 90000u : 1u;  // time moves, now and then by minutes
    if ((op & 0x60) == 0x60) {
      server.PurgeRoutes(CVpnRouteRequestBaseServer::kPurgeExpired);
      continue;
    }
    const std::string_view message = in.Take(op & 0x1F ? (op & 0x1F) % 9 : in.Number(5000));
    const unsigned char reply =
        server.Answer(reinterpret_cast<const unsigned char*>(message.data()), message.size());
    FUZZ_CHECK(reply == 0 || reply == 1);
    if (reply == 1) {
      FUZZ_CHECK(message.size() == kRouteRequestLength && static_cast<unsigned char>(message[0]) == kRouteRequestCommandAdd);
      ForwardRow host = templ;
      std::memcpy(&host.destination, message.data() + 1, 4);
      host.mask = 0xFFFFFFFFu;
      FUZZ_CHECK(host.destination != 0 && table.Has(host));
    }
  }
  server.Stop();
  FUZZ_CHECK(table.CountRows() == baseline);
  return 0;
}
