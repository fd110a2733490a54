#include "open_vpn_bed.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

std::string OpenVpnBedMissing() {
  if (!RunningAsRoot()) return "needs root for network namespaces and a TAP device";
  if (Shell("command -v openvpn") != 0 || Shell("command -v openssl") != 0) return "openvpn or openssl is not installed";
  if (Shell("test -c /dev/net/tun") != 0) return "no /dev/net/tun on this machine";
  return {};
}

COpenVpnBed::COpenVpnBed(const CTestNamespace& client, const fs::path& dir) : dir_(dir) {
  if (!client.Ok()) return;
  ns_ = "qobed" + std::to_string(getpid());
  Shell("ip netns del " + ns_);
  const std::string d = dir.string();
  const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  ok_ = Shell("ip netns add " + ns_) == 0 && client.Ip("link add qb0 type veth peer name qb1 netns " + ns_) == 0 &&
        client.Ip("addr add 10.99.0.2/24 dev qb0") == 0 && client.Ip("link set qb0 up") == 0 &&
        client.Ip("route add default via 10.99.0.254 dev qb0") == 0 &&
        Shell("ip -n " + ns_ + " addr add 10.99.0.1/24 dev qb1") == 0 &&
        Shell("ip -n " + ns_ + " link set qb1 up") == 0 && Shell("ip -n " + ns_ + " link set lo up") == 0 &&
        Shell("cd " + d + " && openssl req -x509 " + ec + " -days 2 -subj /CN=qb-ca -keyout ca.key -out ca.crt") == 0 &&
        Shell("cd " + d + " && openssl req " + ec + " -subj /CN=qb-server -keyout server.key -out server.csr") == 0 &&
        Shell("cd " + d +
              " && printf 'extendedKeyUsage=serverAuth\\nkeyUsage=digitalSignature,keyAgreement\\n' > ext && "
              "openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile ext "
              "-out server.crt") == 0;
  std::ofstream(dir / "auth.sh") << "#!/bin/sh\n[ \"$(sed -n 1p \"$1\")\" = alice ] && [ \"$(sed -n 2p \"$1\")\" = secret ]\n";
  fs::permissions(dir / "auth.sh", fs::perms::owner_all);
}

COpenVpnBed::~COpenVpnBed() {
  KillServer();
  if (!ns_.empty()) Shell("ip netns del " + ns_);
}

void COpenVpnBed::KillServer() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

bool COpenVpnBed::StartServer(const std::string& proto) {
  const fs::path conf = dir_ / ("server-" + proto + ".conf");
  const fs::path log = dir_ / ("server-" + proto + ".log");
  std::ofstream(conf) << "mode server\ntls-server\ndev tap\nproto " << (proto == "tcp" ? "tcp-server" : "udp")
                      << "\nlocal 10.99.0.1\nport 1194\nca " << (dir_ / "ca.crt").string() << "\ncert "
                      << (dir_ / "server.crt").string() << "\nkey " << (dir_ / "server.key").string()
                      << "\ndh none\nverify-client-cert none\nusername-as-common-name\nscript-security 2\n"
                      << "auth-user-pass-verify " << (dir_ / "auth.sh").string() << " via-file\n"
                      << "keepalive 1 4\nverb 3\ntopology subnet\nserver 10.8.0.0 255.255.255.0\n"
                      << "push \"dhcp-option DNS 10.8.0.1\"\n";
  pid_ = fork();
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // no server outlives a killed test run
    execlp("ip", "ip", "netns", "exec", ns_.c_str(), "openvpn", "--config", conf.c_str(), "--log", log.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  // The server writes its log as it starts; poll it (a few seconds at most).
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find("Initialization Sequence Completed") != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}
