// The service side of the client.php protocol, free of any HTTP library.
#pragma once
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "config.h"

// The form fields of one request (query and body together).
using Fields = std::map<std::string, std::string>;

struct ServiceReply {
  int status = 200;
  std::string body;  // before scrambling
  std::string log;   // one line for the operator
};

// Undoes the client's masking of a secret sent as Base64 of the masked
// bytes and Base64 of the pad; nothing when the fields do not fit together.
std::optional<std::string> UnmaskField(const std::string& maskedBase64, const std::string& padBase64);

// The reply scrambling key of a request: its "xor" field when 1 to 255, else 0.
unsigned char ReplyKey(const Fields& fields);
std::string ScrambleReply(std::string body, unsigned char key);

// Everything a handler needs to know about where the request came from.
struct RequestOrigin {
  std::string clientAddress;
  std::string baseUrl;  // scheme://host[:port]/ as the client addressed us
};

// The p and s fields of each user's last accepted login.
class CLoginTies {
 public:
  void Remember(const std::string& user, const Fields& fields);
  bool Matches(const std::string& user, const Fields& fields) const;

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::pair<std::string, std::string>> byUser_;
};

// Answers one client.php request from the configuration; `files` maps a
// download key to its MD5 digest (lower-case hex) and served name. `ties`
// serves the TieRoutesToLogin knob.
ServiceReply Answer(const ServiceConfig& config, const Fields& fields, const RequestOrigin& origin,
                    const std::map<std::string, std::pair<std::string, std::string>>& files,
                    std::int64_t now, CLoginTies* ties = nullptr);
