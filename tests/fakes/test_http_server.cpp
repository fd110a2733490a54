#include "fakes/test_http_server.h"

#include <chrono>
#include <cstdlib>

#include "platform/strings.h"

namespace {

std::string StatusLine(int status) {
  const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : status == 302 ? "Found" : "Status";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
}

std::size_t ContentLengthOf(const std::string& head) {
  const std::string lower = ToLowerAscii(head);
  const std::size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(lower.c_str() + at + 17, nullptr, 10));
}

}  // namespace

CTestHttpServer::CTestHttpServer(Handler handler) : handler_(std::move(handler)) {
  listener_ = TestListenLoopback(64, port_);
  if (listener_ != kNoTestSocket) listenThread_ = std::thread(&CTestHttpServer::Listen, this);
}

CTestHttpServer::~CTestHttpServer() {
  stop_.store(true);
  if (listenThread_.joinable()) listenThread_.join();
  std::vector<std::thread> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& t : connections) t.join();
  TestCloseSocket(listener_);
}

std::wstring CTestHttpServer::BaseUrl() const { return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/"; }

std::vector<TestHttpRequest> CTestHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool CTestHttpServer::SleepUnlessStopped(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stop_.load()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(5)));
  }
  return false;
}

void CTestHttpServer::Listen() {
  while (!stop_.load()) {
    const TestSocket s = TestAccept(listener_, 20);
    if (s == kNoTestSocket) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back(&CTestHttpServer::Serve, this, s);
  }
}

void CTestHttpServer::Serve(TestSocket s) {
  std::string data;
  char buffer[4096];
  std::size_t headEnd = std::string::npos;
  while (!stop_.load()) {
    if (headEnd != std::string::npos && data.size() >= headEnd + 4 + ContentLengthOf(data.substr(0, headEnd + 2)))
      break;
    const int n = TestReceive(s, buffer, sizeof buffer, 20);
    if (n == -2) continue;
    if (n <= 0) {
      TestCloseSocket(s);
      closed_.fetch_add(1);
      return;
    }
    data.append(buffer, static_cast<std::size_t>(n));
    if (headEnd == std::string::npos) headEnd = data.find("\r\n\r\n");
  }
  TestHttpRequest request;
  if (headEnd != std::string::npos) {
    const std::size_t space1 = data.find(' ');
    const std::size_t space2 = data.find(' ', space1 + 1);
    request.method = data.substr(0, space1);
    request.target = data.substr(space1 + 1, space2 - space1 - 1);
    request.body = data.substr(headEnd + 4);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  const TestHttpReply reply = handler_(request);
  bool ok = SleepUnlessStopped(reply.delayMs);
  if (reply.hang) {
    // Hold the connection without a word until the client gives up or we stop.
    while (ok && !stop_.load()) {
      const int n = TestReceive(s, buffer, sizeof buffer, 20);
      if (n == 0 || n == -1) break;
    }
    ok = false;
  }
  if (ok) {
    const std::string head = StatusLine(reply.status) + "Content-Length: " + std::to_string(reply.body.size()) +
                             "\r\nConnection: close\r\n" + reply.extraHeaders + "\r\n";
    ok = TestSendAll(s, head.data(), head.size());
    const std::size_t chunk = reply.chunkSize ? reply.chunkSize : reply.body.size();
    for (std::size_t at = 0; ok && at < reply.body.size(); at += chunk) {
      if (at > 0) ok = SleepUnlessStopped(reply.chunkDelayMs);
      if (ok) ok = TestSendAll(s, reply.body.data() + at, std::min(chunk, reply.body.size() - at));
    }
  }
  TestCloseSocket(s);
  closed_.fetch_add(1);
}

CSilentListener::CSilentListener() {
  listener_ = TestListenLoopback(0, port_);
  if (listener_ != kNoTestSocket) filler_ = TestConnectLoopback(port_);
}

CSilentListener::~CSilentListener() {
  TestCloseSocket(filler_);
  TestCloseSocket(listener_);
}

std::wstring CSilentListener::BaseUrl() const { return L"http://127.0.0.1:" + std::to_wstring(port_) + L"/"; }
