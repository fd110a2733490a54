// A stand-in for many servers behind one TUN device: it answers ICMP echo
// requests and UDP requests to port 123 per destination address, after a
// configured delay, or drops them, or answers wrongly on purpose. The
// kernel here has no netem, so delays are made in user space. The device is
// made in the namespace of the thread that constructs the responder. It
// stops by itself after `maxRunMs`, whatever the test does.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class PeerMode {
  Drop,
  Answer,
  Unreachable,  // ICMP: a destination-unreachable message carrying the whole request
  Foreign,      // the answer comes from the responder's foreign address instead
  Empty,        // UDP: an empty datagram
};

struct PeerBehaviour {
  PeerMode icmp = PeerMode::Drop;
  int icmpDelayMs = 0;
  PeerMode udp = PeerMode::Drop;
  int udpDelayMs = 0;
};

class CTunResponder {
 public:
  CTunResponder(const std::string& interfaceName, int maxRunMs);
  ~CTunResponder();
  CTunResponder(const CTunResponder&) = delete;
  CTunResponder& operator=(const CTunResponder&) = delete;

  bool Ok() const { return fd_ != -1; }
  void SetPeer(const std::string& address, const PeerBehaviour& behaviour);
  void SetForeignSource(const std::string& address);
  void Start();
  void Stop();
  // Requests seen for `address`: ICMP echo requests (udp false) or UDP
  // requests to port 123 (udp true).
  int Requests(const std::string& address, bool udp);
  // CPU time the responder's own thread used.
  double CpuSeconds() const { return cpuNanos_.load() / 1e9; }

 private:
  struct Pending {
    std::chrono::steady_clock::time_point due;
    std::vector<std::uint8_t> packet;
  };
  void Run();
  void Handle(const std::uint8_t* packet, std::size_t length);

  int fd_ = -1;
  int maxRunMs_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex lock_;
  std::map<std::uint32_t, PeerBehaviour> peers_;
  std::map<std::uint32_t, int> icmpRequests_;
  std::map<std::uint32_t, int> udpRequests_;
  std::uint32_t foreign_ = 0;
  std::vector<Pending> pending_;  // only the responder thread
  std::atomic<long long> cpuNanos_{0};
};
