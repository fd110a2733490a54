// The bed the terminal client's end-to-end tests share: a namespace of its
// own with the client's side of an openvpn bed, the server's CA in the
// client's program folder, the account's password in a file, and the
// reference account service with the test's configuration. Each step says
// whether it worked, so a fixture can ASSERT on it.
#pragma once
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fakes/temp_dir.h"
#include "integration/account/service_process.h"
#include "integration/account/test_pki.h"
#include "integration/open_vpn_bed.h"
#include "integration/test_netns.h"

// The service's account and its one server, the bed's openvpn over `proto`,
// with one listed route.
inline std::string OneServerConfig(const std::string& proto = "udp") {
  return R"(
[VPN]
RequiredClientVersion=2.3.0.2
[Account alice]
Password=secret
Expires=2099-01-01
[Servers]
ServerId0=7
Title0=Bed
ServerHost0=10.99.0.1
Protocols0=openvpn
OpenVpn0=)" + proto + R"(,1194
Categories0=usa
[Routes]
Title0=Listed
RouteId0=r1
ModifyDefaultGateway0=0
[RouteList Routes r1]
Route0=192.0.2.0/24
)";
}

class CCliBed {
 public:
  // The namespace with its loopback up, the openvpn bed beside it and the
  // client's files; the server is not started yet.
  bool Open() {
    ns_ = std::make_unique<CTestNamespace>();
    if (!ns_->Ok() || ns_->Ip("link set lo up") != 0) return false;
    bed_ = std::make_unique<COpenVpnBed>(*ns_, dir_.Path());
    if (!bed_->Ok()) return false;
    namespace fs = std::filesystem;
    fs::create_directories(dir_.Path() / "program" / "openvpn");
    fs::copy_file(dir_.Path() / "ca.crt", dir_.Path() / "program" / "openvpn" / "ca.crt");
    std::ofstream(dir_.Path() / "password") << "secret\n";
    return true;
  }
  // The service with `config` after its [Service] section. The race finds it
  // over HTTP; the login goes to its HTTPS side on the default port.
  bool StartService(const std::string& config) {
    service_ = std::make_unique<CServiceProcess>("HttpsPort=443", config);
    return service_->Ready();
  }
  // All of it: the bed, its server over UDP, and the service.
  bool Start(const std::string& config) { return Open() && bed_->StartServer("udp") && StartService(config); }
  // The service first, then the openvpn bed, then the namespace.
  void Close() {
    service_.reset();
    bed_.reset();
    ns_.reset();
  }
  ~CCliBed() { Close(); }

  // "connect" as alice with the password in `passwordFile` (a file of the
  // bed's folder), the bed's folders, and `extra` at the end.
  std::vector<std::string> ConnectArguments(const std::string& route, const std::string& passwordFile = "password",
                                            const std::vector<std::string>& extra = {}) const {
    const std::string d = Dir().string();
    std::string base;
    for (wchar_t c : service_->HttpBase()) base += static_cast<char>(c);
    std::vector<std::string> arguments{"connect", "--service", base, "--ca-file", TestPkiFile("ca.pem"),
                                       "--account", "alice", "--password-file", d + "/" + passwordFile,
                                       "--route", route, "--config", d + "/config", "--data", d + "/data",
                                       "--program-folder", d + "/program"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  const std::filesystem::path& Dir() const { return dir_.Path(); }
  CTestNamespace& Ns() { return *ns_; }
  COpenVpnBed& Bed() { return *bed_; }
  CServiceProcess& Service() { return *service_; }
  bool HasService() const { return service_ != nullptr; }
  void StopService() { service_.reset(); }

 private:
  CTempDir dir_;
  std::unique_ptr<CTestNamespace> ns_;
  std::unique_ptr<COpenVpnBed> bed_;
  std::unique_ptr<CServiceProcess> service_;
};
