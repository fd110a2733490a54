// The reference account service: client.php over HTTP and HTTPS for tests
// and demo runs. Usage: quillnet-account-service CONFIG-FILE
// Prints "http PORT" and "https PORT" once it listens, then serves until
// SIGINT or SIGTERM.
#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "config.h"
#include "protocol.h"

namespace {

std::atomic<bool> g_stopping{false};

void Log(const std::string& line) {
  std::fprintf(stderr, "account-service: %s\n", line.c_str());
  std::fflush(stderr);
}

// A key and certificate for this run only, for localhost and 127.0.0.1.
bool MakeSelfSigned(EVP_PKEY*& key, X509*& cert) {
  key = EVP_EC_gen("P-256");
  cert = X509_new();
  if (!key || !cert) return false;
  ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(std::time(nullptr)));
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  if (!san) return false;
  X509_add_ext(cert, san, -1);
  X509_EXTENSION_free(san);
  return X509_sign(cert, key, EVP_sha256()) > 0;
}

bool LoadPem(const std::string& certFile, const std::string& keyFile, EVP_PKEY*& key, X509*& cert) {
  FILE* c = std::fopen(certFile.c_str(), "rb");
  FILE* k = std::fopen(keyFile.c_str(), "rb");
  if (c) cert = PEM_read_X509(c, nullptr, nullptr, nullptr);
  if (k) key = PEM_read_PrivateKey(k, nullptr, nullptr, nullptr);
  if (c) std::fclose(c);
  if (k) std::fclose(k);
  return cert && key;
}

std::string Md5Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
  std::string out;
  char b[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(b, sizeof b, "%02x", digest[i]);
    out += b;
  }
  return out;
}

struct Downloads {
  // reply key -> (md5, served name); served name -> content
  std::map<std::string, std::pair<std::string, std::string>> byKey;
  std::map<std::string, std::string> content;
};

bool LoadDownloads(const ServiceConfig& config, Downloads& downloads, std::string& error) {
  for (const auto& [key, path] : config.downloads) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      error = "cannot read download " + path;
      return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string name = path.substr(path.find_last_of('/') + 1);
    downloads.content[name] = buffer.str();
    downloads.byKey[key] = {Md5Hex(buffer.str()), name};
  }
  return true;
}

void Install(httplib::Server& server, const ServiceConfig& config, const Downloads& downloads, bool https) {
  server.new_task_queue = [] { return new httplib::ThreadPool(32); };
  server.set_payload_max_length(1 << 20);
  server.set_keep_alive_max_count(1);
  static CLoginTies ties;
  auto handler = [&config, &downloads, https](const httplib::Request& req, httplib::Response& res) {
    Fields fields;
    for (const auto& [k, v] : req.params) fields[k] = v;
    const auto waitUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(config.delayMs);
    while (!g_stopping.load() && (config.noAnswer || std::chrono::steady_clock::now() < waitUntil))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (g_stopping.load()) return;
    RequestOrigin origin;
    origin.clientAddress = req.remote_addr;
    origin.baseUrl = std::string(https ? "https://" : "http://") + req.get_header_value("Host") + "/";
    const ServiceReply reply = Answer(config, fields, origin, downloads.byKey, std::time(nullptr), &ties);
    Log(reply.log);
    res.status = reply.status;
    res.set_content(ScrambleReply(reply.body, ReplyKey(fields)), "text/plain");
  };
  server.Post("/client.php", handler);
  server.Get("/client.php", handler);
  server.Get(R"(/downloads/([^/]+))", [&downloads](const httplib::Request& req, httplib::Response& res) {
    const auto it = downloads.content.find(req.matches[1]);
    if (it == downloads.content.end()) {
      res.status = 404;
      return;
    }
    res.set_content(it->second, "application/octet-stream");
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "usage: %s CONFIG-FILE\n", argv[0]);
    return 2;
  }
  ServiceConfig config;
  std::string error;
  Downloads downloads;
  if (!LoadServiceConfig(argv[1], config, error) || !LoadDownloads(config, downloads, error)) {
    Log(error);
    return 1;
  }

  // Signals are taken by sigwait below, never by a handler thread.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::unique_ptr<httplib::Server> http;
  std::unique_ptr<httplib::SSLServer> https;
  std::vector<std::thread> listeners;
  auto bindServer = [&](httplib::Server& server, int wanted, const char* what) -> bool {
    int port = wanted;
    if (wanted == 0) port = server.bind_to_any_port(config.bind);
    else if (!server.bind_to_port(config.bind.c_str(), wanted)) port = -1;
    if (port <= 0) {
      Log(std::string("cannot listen for ") + what + " on " + config.bind + ":" + std::to_string(wanted));
      return false;
    }
    std::printf("%s %d\n", what, port);
    return true;
  };
  if (config.httpPort >= 0) {
    http = std::make_unique<httplib::Server>();
    Install(*http, config, downloads, false);
    if (!bindServer(*http, config.httpPort, "http")) return 1;
  }
  if (config.httpsPort >= 0) {
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    const bool ok = config.certificateFile.empty() ? MakeSelfSigned(key, cert)
                                                   : LoadPem(config.certificateFile, config.keyFile, key, cert);
    if (!ok) {
      Log("no usable certificate and key for HTTPS");
      return 1;
    }
    https = std::make_unique<httplib::SSLServer>(cert, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!https->is_valid()) {
      Log("the TLS context could not be set up");
      return 1;
    }
    Install(*https, config, downloads, true);
    if (!bindServer(*https, config.httpsPort, "https")) return 1;
  }
  if (http) listeners.emplace_back([&] { http->listen_after_bind(); });
  if (https) listeners.emplace_back([&] { https->listen_after_bind(); });
  // A server's stop() does nothing until its accept loop runs, so a stop
  // signal that came before then would leave the listener (and us) running
  // for ever. Say ready only once both loops run.
  auto running = [&] { return (!http || http->is_running()) && (!https || https->is_running()); };
  while (!running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::printf("ready\n");
  std::fflush(stdout);

  int signalNumber = 0;
  sigwait(&stopSignals, &signalNumber);
  g_stopping.store(true);
  if (http) http->stop();
  if (https) https->stop();
  for (std::thread& t : listeners) t.join();
  return 0;
}
