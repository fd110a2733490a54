// Runs the reference account service as a child process on free loopback
// ports for one test, and stops it (and waits for it) afterwards.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "account/trust_anchors.h"
#include "fakes/temp_dir.h"
#include "test_pki.h"

class CServiceProcess {
 public:
  // `serviceKnobs` are appended to a [Service] section that asks for free
  // loopback ports; the service takes a key's last value, so a knob wins.
  CServiceProcess(const std::string& serviceKnobs, const std::string& restOfConfig) {
    // HTTPS with the test CA's server certificate unless a knob says otherwise;
    // this process trusts that CA as an operator's client would.
    const std::string config = "[Service]\nBind=127.0.0.1\nHttpPort=0\nHttpsPort=0\nCertificateFile=" +
                               TestPkiFile("server.pem") + "\nKeyFile=" + TestPkiFile("server.key") + "\n" +
                               serviceKnobs + "\n" + restOfConfig;
    SetExtraTrustAnchorsPem(TestPkiText("ca.pem"));
    dir_.Write(L"service.ini", config);
    const std::string narrowPath = (dir_.Path() / "service.ini").string();
    logPath_ = (dir_.Path() / "service.log").string();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      // One line per request, for tests that ask what the service saw.
      const int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (log >= 0 && !getenv("QUILLNET_SERVICE_LOG")) dup2(log, 2);
      execl(QUILLNET_ACCOUNT_SERVICE, QUILLNET_ACCOUNT_SERVICE, narrowPath.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string text;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find("ready\n") == std::string::npos && std::chrono::steady_clock::now() < until) {
      pollfd p{out[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    httpPort_ = PortAfter(text, "http ");
    httpsPort_ = PortAfter(text, "https ");
    ready_ = text.find("ready\n") != std::string::npos;
  }

  ~CServiceProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    // A service that does not stop must not hang the suite: ten seconds,
    // then it is killed.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= until) {
        ADD_FAILURE() << "the account service did not stop on SIGTERM";
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        return;
      }
      usleep(10000);
    }
  }

  bool Ready() const { return ready_; }
  std::wstring HttpBase() const { return L"http://127.0.0.1:" + std::to_wstring(httpPort_) + L"/"; }
  std::wstring HttpsBase() const { return L"https://127.0.0.1:" + std::to_wstring(httpsPort_) + L"/"; }
  int HttpPort() const { return httpPort_; }
  // What the service logged so far: "probe from ...", "login user=...", ...
  std::string Log() const {
    std::string text;
    ReadWholeFile(NarrowToWide(logPath_), text);
    return text;
  }

 private:
  static int PortAfter(const std::string& text, const std::string& word) {
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      if (text.compare(start, word.size(), word) == 0) return std::atoi(text.c_str() + start + word.size());
      start = end + 1;
    }
    return 0;
  }

  CTempDir dir_;
  std::string logPath_;
  pid_t pid_ = -1;
  int httpPort_ = 0;
  int httpsPort_ = 0;
  bool ready_ = false;
};
