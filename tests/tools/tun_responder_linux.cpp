#include "tools/tun_responder_linux.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

std::uint16_t Checksum(const std::uint8_t* bytes, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
  if (length % 2) sum += static_cast<std::uint32_t>(bytes[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

void PutChecksum(std::uint8_t* at, std::uint16_t sum) {
  at[0] = static_cast<std::uint8_t>(sum >> 8);
  at[1] = static_cast<std::uint8_t>(sum);
}

std::uint32_t Address(const std::string& text) {
  in_addr a{};
  inet_pton(AF_INET, text.c_str(), &a);
  return a.s_addr;
}

// An IPv4 packet from `source` to `destination` around `payload`.
std::vector<std::uint8_t> Ipv4(std::uint32_t source, std::uint32_t destination, std::uint8_t protocol,
                               const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> packet(20 + payload.size());
  packet[0] = 0x45;
  packet[2] = static_cast<std::uint8_t>(packet.size() >> 8);
  packet[3] = static_cast<std::uint8_t>(packet.size());
  packet[8] = 64;
  packet[9] = protocol;
  std::memcpy(&packet[12], &source, 4);
  std::memcpy(&packet[16], &destination, 4);
  PutChecksum(&packet[10], Checksum(packet.data(), 20));
  std::copy(payload.begin(), payload.end(), packet.begin() + 20);
  return packet;
}

}  // namespace

CTunResponder::CTunResponder(const std::string& interfaceName, int maxRunMs) : maxRunMs_(maxRunMs) {
  const int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd == -1) return;
  ifreq request{};
  request.ifr_flags = IFF_TUN | IFF_NO_PI;
  std::strncpy(request.ifr_name, interfaceName.c_str(), IFNAMSIZ - 1);
  if (ioctl(fd, TUNSETIFF, &request) != 0) {
    close(fd);
    return;
  }
  fd_ = fd;
}

CTunResponder::~CTunResponder() {
  Stop();
  if (fd_ != -1) close(fd_);
}

void CTunResponder::SetPeer(const std::string& address, const PeerBehaviour& behaviour) {
  std::lock_guard<std::mutex> hold(lock_);
  peers_[Address(address)] = behaviour;
}

void CTunResponder::SetForeignSource(const std::string& address) {
  std::lock_guard<std::mutex> hold(lock_);
  foreign_ = Address(address);
}

void CTunResponder::Start() {
  if (fd_ != -1 && !thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void CTunResponder::Stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

int CTunResponder::Requests(const std::string& address, bool udp) {
  std::lock_guard<std::mutex> hold(lock_);
  const auto& counts = udp ? udpRequests_ : icmpRequests_;
  const auto found = counts.find(Address(address));
  return found == counts.end() ? 0 : found->second;
}

void CTunResponder::Run() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(maxRunMs_);
  std::uint8_t buffer[65536];
  while (!stop_.load() && Clock::now() < end) {
    Clock::time_point next = std::min(end, Clock::now() + std::chrono::milliseconds(50));
    for (const Pending& p : pending_) next = std::min(next, p.due);
    const auto waitUs = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    // poll counts whole milliseconds; sleep the rest so answers leave on time.
    const int waitMs = waitUs > 0 ? static_cast<int>(waitUs / 1000) : 0;
    if (poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
      for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0) break;
        Handle(buffer, static_cast<std::size_t>(n));
      }
    } else if (waitUs % 1000 > 0 && waitUs < 1000) {
      std::this_thread::sleep_for(std::chrono::microseconds(waitUs));
    }
    const Clock::time_point now = Clock::now();
    for (auto it = pending_.begin(); it != pending_.end();) {
      if (it->due > now) {
        ++it;
        continue;
      }
      (void)!write(fd_, it->packet.data(), it->packet.size());
      it = pending_.erase(it);
    }
  }
  timespec cpu{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  cpuNanos_.store(static_cast<long long>(cpu.tv_sec) * 1000000000LL + cpu.tv_nsec);
}

void CTunResponder::Handle(const std::uint8_t* packet, std::size_t length) {
  if (length < 20 || (packet[0] >> 4) != 4) return;
  const std::size_t headerLength = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  if (length < headerLength + 8) return;
  std::uint32_t source, destination;
  std::memcpy(&source, packet + 12, 4);
  std::memcpy(&destination, packet + 16, 4);
  const std::uint8_t protocol = packet[9];
  const std::uint8_t* body = packet + headerLength;
  const std::size_t bodyLength = length - headerLength;

  PeerBehaviour peer;
  std::uint32_t foreign;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (protocol == 1 && body[0] == 8) ++icmpRequests_[destination];
    if (protocol == 17 && (body[2] << 8 | body[3]) == 123) ++udpRequests_[destination];
    const auto found = peers_.find(destination);
    if (found == peers_.end()) return;
    peer = found->second;
    foreign = foreign_;
  }
  const auto now = std::chrono::steady_clock::now();
  if (protocol == 1 && body[0] == 8) {
    std::vector<std::uint8_t> icmp;
    switch (peer.icmp) {
      case PeerMode::Answer:
      case PeerMode::Foreign:
        icmp.assign(body, body + bodyLength);
        icmp[0] = 0;
        break;
      case PeerMode::Unreachable:
        icmp.assign(8, 0);
        icmp[0] = 3;
        icmp[1] = 1;
        icmp.insert(icmp.end(), packet, packet + length);
        break;
      default:
        return;
    }
    icmp[2] = icmp[3] = 0;
    PutChecksum(&icmp[2], Checksum(icmp.data(), icmp.size()));
    const std::uint32_t from = peer.icmp == PeerMode::Foreign ? foreign : destination;
    pending_.push_back({now + std::chrono::milliseconds(peer.icmpDelayMs), Ipv4(from, source, 1, icmp)});
  } else if (protocol == 17 && (body[2] << 8 | body[3]) == 123) {
    if (peer.udp == PeerMode::Drop || peer.udp == PeerMode::Unreachable) return;
    const std::size_t payload = peer.udp == PeerMode::Empty ? 0 : 48;
    std::vector<std::uint8_t> udp(8 + payload, 0);
    udp[0] = 0;
    udp[1] = 123;
    udp[2] = body[0];
    udp[3] = body[1];
    udp[4] = static_cast<std::uint8_t>(udp.size() >> 8);
    udp[5] = static_cast<std::uint8_t>(udp.size());
    if (payload) udp[8] = 0x1C;  // a server-mode answer; the client never parses it
    const std::uint32_t from = peer.udp == PeerMode::Foreign ? foreign : destination;
    pending_.push_back({now + std::chrono::milliseconds(peer.udpDelayMs), Ipv4(from, source, 17, udp)});
  }
}
