// The two probers of the speed test: ICMP echo and a 48-byte time-service
// request to UDP port 123. Each owns one non-blocking socket; answers are
// matched to servers by the sender's address only.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/tick.h"
#include "servers/server_list.h"

constexpr std::uint32_t kMsgIcmpResult = 0x0400 + 1;  // 1025
constexpr std::uint32_t kMsgUdpResult = 0x0400 + 2;   // 1026

constexpr std::size_t kEchoRequestSize = 272;
constexpr std::size_t kIpHeaderSize = 20;
constexpr std::size_t kUdpRequestSize = 48;
constexpr std::uint16_t kTimeServicePort = 123;

using SpeedClock = std::function<Tick()>;

struct PingReply {
  std::int32_t ok = 0;      // an answer that counts
  std::int32_t failed = 0;  // nothing could be read
  std::wstring from;        // sender, dotted IPv4
  std::uint32_t time = 0;   // clock when read
};

struct PendingProbe {
  VpnServerInfo server;
  std::uint32_t sendTime = 0;
  std::int32_t state = kSpeedToBeTested;
};

// RFC 1071 over `length` bytes.
std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t length);

// The echo request: type 8, identifier and sequence from the two counters'
// low 16 bits (little-endian), the send time at offset 12, then 0..255.
void BuildEchoRequest(std::uint8_t (&packet)[kEchoRequestSize], std::uint32_t identifier, std::uint32_t sequence,
                      std::uint32_t sendTime);
std::array<std::uint8_t, kUdpRequestSize> BuildTimeServiceRequest();

// Judges one datagram read from an ICMP socket. `withIpHeader` for the raw
// form (the answer starts with the IPv4 header); the unprivileged datagram
// form delivers the ICMP message alone. Returns false when the datagram is
// too short to be an echo answer (the read counts as failed); otherwise
// `isEchoReply` tells whether it is one.
bool JudgeIcmpDatagram(const std::uint8_t* bytes, std::size_t length, bool withIpHeader, bool& isEchoReply);

class CSocketPingBase {
 public:
  CSocketPingBase(std::uint32_t message, SpeedClock clock) : message_(message), clock_(std::move(clock)) {}
  virtual ~CSocketPingBase();
  CSocketPingBase(const CSocketPingBase&) = delete;
  CSocketPingBase& operator=(const CSocketPingBase&) = delete;

  // 0, or -1 when no socket could be made; the prober stays usable either way.
  virtual int Open() = 0;
  // What the send call returned (negative on failure).
  virtual int SendProbe(const std::wstring& host) = 0;
  virtual void Receive(PingReply& reply) = 0;
  // Waits up to `timeoutMs` for the socket to be readable or exceptional.
  // Without a usable socket it sleeps the whole time: a missing socket must
  // not turn the worker's loop into a spin.
  virtual void Wait(int timeoutMs, bool& readable, bool& exceptional);
  // Closes the socket and deletes the prober.
  virtual void Close();

  std::uint32_t Message() const { return message_; }
  bool HasSocket() const { return socket_ != -1; }
  Tick Now() const { return clock_(); }

 protected:
  void CloseSocket();
  // Reads one datagram of up to `capacity` bytes. Returns the byte count, or
  // -1 when the socket reports nothing waiting or the read fails; an empty
  // datagram (or a pending socket error) is consumed and counts as a failed
  // read, so it cannot keep the socket readable forever.
  int ReadDatagram(std::uint8_t* buffer, std::size_t capacity, std::uint32_t& fromNetworkOrder);
  // Sends to a dotted IPv4 host; -1 when the host is not one or the send fails.
  int SendDatagram(const std::wstring& host, std::uint16_t port, const void* bytes, std::size_t length);

  std::intptr_t socket_ = -1;
  bool socketLibrary_ = false;  // the socket library was started for this prober
  std::uint32_t message_;
  SpeedClock clock_;
};

class CSocketPing_ICMP : public CSocketPingBase {
 public:
  explicit CSocketPing_ICMP(SpeedClock clock) : CSocketPingBase(kMsgIcmpResult, std::move(clock)) {}
  int Open() override;
  int SendProbe(const std::wstring& host) override;
  void Receive(PingReply& reply) override;
  bool UsesDatagramSocket() const { return datagram_; }

 private:
  bool datagram_ = false;  // unprivileged ICMP socket: no IP header in answers
  std::uint8_t packet_[kEchoRequestSize] = {};
};

class CSocketPing_UDP : public CSocketPingBase {
 public:
  explicit CSocketPing_UDP(SpeedClock clock, std::uint16_t port = kTimeServicePort)
      : CSocketPingBase(kMsgUdpResult, std::move(clock)), port_(port) {}
  int Open() override;
  int SendProbe(const std::wstring& host) override;
  void Receive(PingReply& reply) override;

 private:
  std::uint16_t port_;
};

// The system's millisecond clock for probes (the multimedia timer on Windows).
Tick ProbeClockMs();
