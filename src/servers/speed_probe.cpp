#include "servers/speed_probe.h"
#include "platform/text_parse.h"

#include <atomic>


std::uint16_t InternetChecksum(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t sum = 0;
  std::size_t i = 0;
  for (; i + 1 < length; i += 2) sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (i < length) sum += static_cast<std::uint32_t>(bytes[i] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

void BuildEchoRequest(std::uint8_t (&packet)[kEchoRequestSize], std::uint32_t identifier, std::uint32_t sequence,
                      std::uint32_t sendTime) {
  packet[0] = 8;
  packet[1] = 0;
  packet[2] = packet[3] = 0;
  packet[4] = static_cast<std::uint8_t>(identifier);
  packet[5] = static_cast<std::uint8_t>(identifier >> 8);
  packet[6] = static_cast<std::uint8_t>(sequence);
  packet[7] = static_cast<std::uint8_t>(sequence >> 8);
  for (int i = 8; i < 12; ++i) packet[i] = 0;
  for (int i = 0; i < 4; ++i) packet[12 + i] = static_cast<std::uint8_t>(sendTime >> (8 * i));
  for (int i = 0; i < 256; ++i) packet[16 + i] = static_cast<std::uint8_t>(i);
  const std::uint16_t sum = InternetChecksum(packet, kEchoRequestSize);
  // The checksum is a sequence of network-order words; store it that way.
  packet[2] = static_cast<std::uint8_t>(sum >> 8);
  packet[3] = static_cast<std::uint8_t>(sum);
}

std::array<std::uint8_t, kUdpRequestSize> BuildTimeServiceRequest() {
  std::array<std::uint8_t, kUdpRequestSize> request{};
  request[0] = 0x1B;
  return request;
}

bool JudgeIcmpDatagram(const std::uint8_t* bytes, std::size_t length, bool withIpHeader, bool& isEchoReply) {
  isEchoReply = false;
  std::size_t offset = 0;
  if (withIpHeader) {
    if (length < kIpHeaderSize + kEchoRequestSize) return false;
    // Honour IP options: the ICMP message starts after the header the packet
    // declares, not always at 20.
    offset = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    if (offset < kIpHeaderSize || length < offset + 2) return true;
  } else if (length < kEchoRequestSize) {
    return false;
  }
  isEchoReply = bytes[offset] == 0 && bytes[offset + 1] == 0;
  return true;
}

void CSocketPingBase::Close() {
  CloseSocket();
  delete this;
}

CSocketPingBase::~CSocketPingBase() { CloseSocket(); }

namespace {
// Shared by every ICMP prober of the process, so that two probers never send
// the same identifier and sequence.
std::atomic<std::uint32_t> g_echoIdentifier{1};
std::atomic<std::uint32_t> g_echoSequence{1};
}  // namespace

int CSocketPing_ICMP::SendProbe(const std::wstring& host) {
  BuildEchoRequest(packet_, g_echoIdentifier++, g_echoSequence++, clock_());
  return SendDatagram(host, 0, packet_, sizeof packet_);
}

void CSocketPing_ICMP::Receive(PingReply& reply) {
  std::uint8_t buffer[2048];
  std::uint32_t from = 0;
  const int n = ReadDatagram(buffer, sizeof buffer, from);
  bool echoReply = false;
  // A raw socket hands us the IP header too; an ICMP datagram socket does not.
  if (n < 0 || !JudgeIcmpDatagram(buffer, static_cast<std::size_t>(n), !datagram_, echoReply)) {
    reply.failed = 1;
    return;
  }
  reply.from = FormatIpv4(from);
  reply.time = clock_();
  reply.ok = echoReply ? 1 : 0;
}

int CSocketPing_UDP::SendProbe(const std::wstring& host) {
  static const auto request = BuildTimeServiceRequest();
  return SendDatagram(host, port_, request.data(), request.size());
}

void CSocketPing_UDP::Receive(PingReply& reply) {
  std::uint8_t buffer[2048];
  std::uint32_t from = 0;
  if (ReadDatagram(buffer, sizeof buffer, from) < 0) {
    reply.failed = 1;
    return;
  }
  reply.from = FormatIpv4(from);
  reply.time = clock_();
  reply.ok = 1;
}
