// A bind module's side of the route request conversation over the platform's
// transport: a message-mode named pipe on Windows, a sequenced-packet Unix
// socket elsewhere. The suites that hold for both use only this.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class CTestRouteClient {
 public:
  // A busy or not yet listening endpoint is tried again for `patienceMs`.
  explicit CTestRouteClient(const std::wstring& endpoint, unsigned patienceMs = 5000);
  ~CTestRouteClient();
  CTestRouteClient(const CTestRouteClient&) = delete;
  CTestRouteClient& operator=(const CTestRouteClient&) = delete;

  void Close();
  bool Connected() const { return handle_ != kNone; }
  unsigned long LastError() const { return lastError_; }
  bool Send(const std::vector<unsigned char>& bytes);
  // The reply byte, -1 when the connection ended, -2 when nothing came in time.
  int Reply(int timeoutMs = 5000);
  // Send and Reply; -3 when the request could not be sent.
  int Ask(const std::vector<unsigned char>& bytes, int timeoutMs = 5000) {
    return Send(bytes) ? Reply(timeoutMs) : -3;
  }

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
  unsigned long lastError_ = 0;
};

// How the platform's transport differs where the suites must know it.
struct RouteRequestTransport {
  const char* name;
  // Clients beyond the server's instances wait for one (a socket's listen
  // queue) rather than find the endpoint busy (a pipe).
  bool clientsQueue;
};
RouteRequestTransport PlatformRouteRequestTransport();
// An endpoint of the test's own, unused so far.
std::wstring FreshRouteRequestEndpoint();
