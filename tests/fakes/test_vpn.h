// A VPN kind for tests: it brings nothing up and is told by the test what a
// real kind would have learned (local address, gateway, DNS servers).
// RecordingObserver keeps every notification's state triple.
#pragma once
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vpn/general_vpn.h"

class CTestVpn : public CGeneralVpn {
 public:
  explicit CTestVpn(IForwardTable& table, std::unique_ptr<CVpnRouteRequestBaseServer> server = nullptr,
                    std::int32_t kind = 3)
      : CGeneralVpn(table, std::move(server)) {
    SetType(kind);
  }
  ~CTestVpn() override { SetCallback(nullptr); }

  std::int32_t Stop() override {
    RestoreRoutes();
    return CGeneralVpn::Stop();
  }
  std::int32_t GetStatistics(std::uint32_t& sent, std::uint32_t& received) override {
    sent = received = 0;
    return 0;
  }
  std::wstring GetErrorDetailText(std::int32_t detail) override {
    return detail ? L"detail " + std::to_wstring(detail) : L"";
  }
  std::wstring GetErrorText(std::int32_t code) override {
    if (code == 9) return L"kind's own error";
    return CGeneralVpn::GetErrorText(code);
  }

  // What the kind would learn from the tunnel.
  void Learn(const std::wstring& local, const std::wstring& gateway = L"") {
    SetLocalIp(local);
    SetVpnGateway(gateway);
  }
  using CGeneralVpn::StoreState;
};

using StateTriple = VpnStatus;

class CRecordingObserver : public CGeneralVpnCallbackInterface {
 public:
  void OnVpnStateChanged(CGeneralVpn* vpn) override {
    std::lock_guard lock(mutex_);
    seen_.push_back(vpn->GetStatus());
  }
  std::vector<StateTriple> Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    seen_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<StateTriple> seen_;
};

// A route request server without transport: its thread only waits for Stop.
// `startFails` makes Start report failure as a transport would.
class CFakeRouteRequestServer : public CVpnRouteRequestBaseServer {
 public:
  explicit CFakeRouteRequestServer(IForwardTable& table, bool startFails = false)
      : CVpnRouteRequestBaseServer(table), startFails_(startFails) {}
  ~CFakeRouteRequestServer() override { Stop(); }
  int starts = 0;

 protected:
  bool PrepareStart() override {
    ++starts;
    stop_ = false;
    return !startFails_;
  }
  void Run() override {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stop_; });
  }
  void SignalStop() override {
    std::lock_guard lock(mutex_);
    stop_ = true;
    wake_.notify_all();
  }

 private:
  bool startFails_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
};
