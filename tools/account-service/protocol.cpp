#include "protocol.h"

#include <openssl/evp.h>

#include <cstdio>
#include <sstream>

namespace {

constexpr const char* kMarker = "MagicTag=VpnServerResponse";
constexpr const char* kWrongMarker = "MagicTag=VpnServerResponsX";

std::optional<std::string> Base64Decode(const std::string& text) {
  if (text.empty()) return std::string();
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  std::size_t length = static_cast<std::size_t>(n);
  if (text.back() == '=') --length;
  if (text[text.size() - 2] == '=') --length;
  out.resize(length);
  return out;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

std::string Get(const Fields& fields, const std::string& key) {
  const auto it = fields.find(key);
  return it == fields.end() ? std::string() : it->second;
}

void AppendSection(std::string& out, const ConfigSection& section) {
  out += "[" + section.name + "]\r\n";
  for (const auto& [k, v] : section.entries) out += k + "=" + v + "\r\n";
}

const ConfigSection* FindSection(const ServiceConfig& config, const std::string& name) {
  for (const ConfigSection& s : config.replySections)
    if (s.name == name) return &s;
  return nullptr;
}

// Section VPN: the marker first, then the request's own keys, then the
// configured ones and the served downloads.
std::string VpnSection(const ServiceConfig& config, const std::vector<std::pair<std::string, std::string>>& own,
                       const RequestOrigin& origin,
                       const std::map<std::string, std::pair<std::string, std::string>>& files) {
  std::string out = "[VPN]\r\n";
  out += std::string(config.wrongMarker ? kWrongMarker : kMarker) + "\r\n";
  for (const auto& [k, v] : own) out += k + "=" + v + "\r\n";
  if (const ConfigSection* vpn = FindSection(config, "VPN"))
    for (const auto& [k, v] : vpn->entries) out += k + "=" + v + "\r\n";
  for (const auto& [key, file] : files) {
    out += key + "=" + origin.baseUrl + "downloads/" + file.second + "\r\n";
    out += key + "MD5=" + file.first + "\r\n";
  }
  return out;
}

const Account* FindAccount(const ServiceConfig& config, const std::string& name) {
  for (const Account& a : config.accounts)
    if (a.name == name) return &a;
  return nullptr;
}

struct Secrets {
  std::optional<std::string> password, bios, disk, network;
};

Secrets ReadSecrets(const Fields& f) {
  Secrets s;
  s.password = UnmaskField(Get(f, "p"), Get(f, "s"));
  s.bios = UnmaskField(Get(f, "b"), Get(f, "a"));
  s.disk = UnmaskField(Get(f, "d"), Get(f, "c"));
  s.network = UnmaskField(Get(f, "f"), Get(f, "e"));
  return s;
}

}  // namespace

std::optional<std::string> UnmaskField(const std::string& maskedBase64, const std::string& padBase64) {
  const auto masked = Base64Decode(maskedBase64);
  const auto pad = Base64Decode(padBase64);
  if (!masked || !pad || masked->size() != pad->size()) return std::nullopt;
  const std::size_t n = masked->size();
  std::string plain(n, '\0');
  if (n == 0) return plain;
  // The first pad byte fixes where the client started; pad byte i belongs
  // to position (start + i) mod n.
  const std::size_t start = (255u - static_cast<unsigned char>((*pad)[0])) % n;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t pos = (start + i) % n;
    const unsigned r = static_cast<unsigned char>((*pad)[i]);
    const unsigned y = static_cast<unsigned char>((*masked)[i]);
    unsigned x;
    if (pos % 3 == 0) x = y ^ r;
    else if (pos % 3 == 1) x = y - r;
    else x = y + r;
    plain[pos] = static_cast<char>(x & 0xff);
  }
  return plain;
}

unsigned char ReplyKey(const Fields& fields) {
  const std::string text = Get(fields, "xor");
  try {
    std::size_t used = 0;
    const int key = std::stoi(text, &used, 10);
    if (used == text.size() && key >= 1 && key <= 255) return static_cast<unsigned char>(key);
  } catch (...) {
  }
  return 0;
}

std::string ScrambleReply(std::string body, unsigned char key) {
  for (char& c : body) c = static_cast<char>(static_cast<unsigned char>(c) ^ key);
  return body;
}

void CLoginTies::Remember(const std::string& user, const Fields& fields) {
  std::lock_guard hold(lock_);
  byUser_[user] = {Get(fields, "p"), Get(fields, "s")};
}

bool CLoginTies::Matches(const std::string& user, const Fields& fields) const {
  std::lock_guard hold(lock_);
  const auto it = byUser_.find(user);
  return it != byUser_.end() && it->second == std::make_pair(Get(fields, "p"), Get(fields, "s"));
}

ServiceReply Answer(const ServiceConfig& config, const Fields& fields, const RequestOrigin& origin,
                    const std::map<std::string, std::pair<std::string, std::string>>& files, std::int64_t now,
                    CLoginTies* ties) {
  ServiceReply reply;
  reply.status = config.httpStatus;
  const std::string cmd = Get(fields, "cmd");
  const std::string user = Get(fields, "u");

  if (cmd.empty()) {
    reply.body = VpnSection(config, {{"ClientIP", origin.clientAddress}}, origin, files);
    if (const ConfigSection* s = FindSection(config, "Announcements")) AppendSection(reply.body, *s);
    reply.log = "probe from " + origin.clientAddress;
    return reply;
  }

  if (cmd == "login") {
    const Secrets secrets = ReadSecrets(fields);
    const Account* account = FindAccount(config, user);
    std::string result = "OK", message;
    if (!account || !secrets.password || *secrets.password != account->password) {
      result = "Denied";
      message = "Wrong account name or password";
    } else if ((account->bios && secrets.bios != account->bios) || (account->disk && secrets.disk != account->disk) ||
               (account->network && secrets.network != account->network)) {
      result = "Denied";
      message = "This account is bound to another computer";
    } else if (account->expires != 0 && account->expires <= now) {
      result = "Expired";
      message = "Your account has expired";
    } else {
      message = account->message;
    }
    std::vector<std::pair<std::string, std::string>> own = {
        {"AuthResult", result}, {"AuthMessage", message}, {"ClientIP", origin.clientAddress}};
    if (account && result != "Denied") own.emplace_back("ExpirationDatetimeGMT", std::to_string(account->expires));
    reply.body = VpnSection(config, own, origin, files);
    if (result == "OK")
      for (const char* name : {"Servers", "Routes", "CustomRoutes"})
        if (const ConfigSection* s = FindSection(config, name)) AppendSection(reply.body, *s);
    if (config.echoSecrets) {
      reply.body += "[Echo]\r\n";
      reply.body += "Password=" + (secrets.password ? Hex(*secrets.password) : "-") + "\r\n";
      reply.body += "Bios=" + (secrets.bios ? Hex(*secrets.bios) : "-") + "\r\n";
      reply.body += "Disk=" + (secrets.disk ? Hex(*secrets.disk) : "-") + "\r\n";
      reply.body += "Network=" + (secrets.network ? Hex(*secrets.network) : "-") + "\r\n";
      reply.body += "Time=" + Get(fields, "t") + "\r\n";
    }
    if (ties && result == "OK") ties->Remember(user, fields);
    reply.log = "login user=" + user + " result=" + result;
    return reply;
  }

  if (cmd == "getvpnroutes") {
    const Account* account = FindAccount(config, user);
    const auto password = UnmaskField(Get(fields, "p"), Get(fields, "s"));
    if (!account || !password || *password != account->password) {
      reply.status = 403;
      reply.log = "getvpnroutes user=" + user + " refused";
      return reply;
    }
    if (config.tieRoutesToLogin && (!ties || !ties->Matches(user, fields))) {
      reply.status = 403;
      reply.log = "getvpnroutes user=" + user + " refused: not the login's p and s";
      return reply;
    }
    const auto it = config.routeLists.find(Get(fields, "section") + " " + Get(fields, "id"));
    if (it != config.routeLists.end())
      for (const std::string& line : it->second) reply.body += line + "\r\n";
    reply.log = "getvpnroutes user=" + user + " section=" + Get(fields, "section") + " id=" + Get(fields, "id") +
                " lines=" + std::to_string(it == config.routeLists.end() ? 0 : it->second.size());
    return reply;
  }

  reply.status = 400;
  reply.log = "unknown command " + cmd;
  return reply;
}
