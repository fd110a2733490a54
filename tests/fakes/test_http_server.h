// A small HTTP/1.1 server on a free loopback port for transfer tests on
// both platforms: each request gets the reply its handler chooses, with an
// optional delay, or no reply at all.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/test_socket.h"

struct TestHttpRequest {
  std::string method;
  std::string target;
  std::string body;
};

struct TestHttpReply {
  int status = 200;
  std::string body;
  int delayMs = 0;       // before the status line
  bool hang = false;     // never answer; the connection stays open until the server stops
  int chunkDelayMs = 0;  // with a body in several pieces: the pause between them
  std::size_t chunkSize = 0;
  std::string extraHeaders = {};  // whole lines, each ended by "\r\n"
};

struct ssl_ctx_st;

class CTestHttpServer {
 public:
  using Handler = std::function<TestHttpReply(const TestHttpRequest&)>;
  // With `tls`, HTTPS under a self-signed certificate made for this server.
  explicit CTestHttpServer(Handler handler, bool tls = false);
  ~CTestHttpServer();
  CTestHttpServer(const CTestHttpServer&) = delete;
  CTestHttpServer& operator=(const CTestHttpServer&) = delete;

  bool Ok() const { return listener_ != kNoTestSocket; }
  std::uint16_t Port() const { return port_; }
  std::wstring BaseUrl() const;  // http(s)://127.0.0.1:port/
  std::vector<TestHttpRequest> Requests() const;
  // The self-signed certificate of a TLS server (PEM).
  const std::string& CertificatePem() const { return certificatePem_; }
  // Connections that have gone (closed by the client or answered).
  int ClosedConnections() const { return closed_.load(); }

 private:
  void Listen();
  void Serve(TestSocket s);
  bool SleepUnlessStopped(int ms);

  Handler handler_;
  ssl_ctx_st* tls_ = nullptr;
  std::string certificatePem_;
  TestSocket listener_ = kNoTestSocket;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> closed_{0};
  std::thread listenThread_;
  mutable std::mutex mutex_;
  std::vector<std::thread> connections_;
  std::vector<TestHttpRequest> requests_;
};

// A loopback address whose connection attempts are never answered: its
// listener's queue is full and never drained, so new handshakes are dropped.
class CSilentListener {
 public:
  CSilentListener();
  ~CSilentListener();
  std::wstring BaseUrl() const;
  bool Ok() const { return listener_ != kNoTestSocket && filler_ != kNoTestSocket; }

 private:
  TestSocket listener_ = kNoTestSocket;
  TestSocket filler_ = kNoTestSocket;
  std::uint16_t port_ = 0;
};
