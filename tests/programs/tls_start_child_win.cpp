// Starts OpenSSL the way a program of ours would, then makes a TLS context:
//   tls_start_child bare     OpenSSL started as any program starts it
//   tls_start_child client   the client's HTTPS library started first
//   tls_start_child folder   prints the configuration folder OpenSSL was built
//                            with, as this system resolves it from here
#include <windows.h>

#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "account/curl_plus.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (std::strcmp(argv[1], "folder") == 0) {
    // "OPENSSLDIR: \"...\"": the folder between the quotes.
    const char* text = OpenSSL_version(OPENSSL_DIR);
    const char* open = std::strchr(text, '"');
    const char* close = open ? std::strrchr(text, '"') : nullptr;
    if (!open || close == open) return 1;
    const std::string folder(open + 1, close);
    char full[MAX_PATH] = {};
    const DWORD n = GetFullPathNameA(folder.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return 1;
    std::printf("%s\n", full);
    return 0;
  }
  const bool client = std::strcmp(argv[1], "client") == 0;
  if (!client && std::strcmp(argv[1], "bare") != 0) return 2;
  std::optional<CCurlGlobal> curl;
  if (client) curl.emplace();
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_CONFIG, nullptr);
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return 1;
  SSL_CTX_free(context);
  return 0;
}
