#include "vpn/open_vpn_options.h"

#include <array>
#include <initializer_list>
#include <vector>

namespace {

bool IsAsciiAlnum(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// What a parameter of an allowed option may look like.
enum class Param {
  Number,     // decimal, at most 9 digits
  Name,       // cipher and digest names and lists: letters, digits, - _ . : +
  Hex,        // key-usage values
  X509Name,   // a certificate name: Name plus = and @
  Word,       // one of the option's fixed words
};

struct ParamSpec {
  Param kind;
  std::vector<const wchar_t*> words = {};
};

struct OptionSpec {
  const wchar_t* name;
  int required;
  std::vector<ParamSpec> params;  // required ones first, then optional ones
  bool windowsOnly = false;
};

bool MatchesParam(const ParamSpec& spec, std::wstring_view token) {
  if (token.empty() || token.size() > 128) return false;
  switch (spec.kind) {
    case Param::Number:
      if (token.size() > 9) return false;
      for (wchar_t c : token)
        if (!IsDigit(c)) return false;
      return true;
    case Param::Hex:
      if (token.size() > 6) return false;
      for (wchar_t c : token)
        if (!IsDigit(c) && !((c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F') || c == L'x')) return false;
      return true;
    case Param::Name:
    case Param::X509Name:
      if (token[0] == L'-') return false;
      for (wchar_t c : token) {
        if (IsAsciiAlnum(c) || c == L'-' || c == L'_' || c == L'.' || c == L':' || c == L'+') continue;
        if (spec.kind == Param::X509Name && (c == L'=' || c == L'@')) continue;
        return false;
      }
      return true;
    case Param::Word:
      for (const wchar_t* word : spec.words)
        if (token == word) return true;
      return false;
  }
  return false;
}

const ParamSpec kNumber{Param::Number};
const ParamSpec kName{Param::Name};

// Options that only shape the tunnel. Everything else is refused.
const std::vector<OptionSpec>& AllowedOptions() {
  static const std::vector<OptionSpec> options = {
      // Ciphers and digests.
      {L"cipher", 1, {kName}},
      {L"auth", 1, {kName}},
      {L"data-ciphers", 1, {kName}},
      {L"data-ciphers-fallback", 1, {kName}},
      {L"ncp-ciphers", 1, {kName}},
      {L"ncp-disable", 0, {}},
      {L"tls-cipher", 1, {kName}},
      {L"tls-ciphersuites", 1, {kName}},
      {L"tls-groups", 1, {kName}},
      {L"tls-version-min", 1, {kName, {Param::Word, {L"or-highest"}}}},
      {L"tls-version-max", 1, {kName}},
      {L"key-direction", 1, {{Param::Word, {L"0", L"1"}}}},
      // Compression.
      {L"comp-lzo", 0, {{Param::Word, {L"yes", L"no", L"adaptive"}}}},
      {L"compress", 0, {{Param::Word, {L"lzo", L"lz4", L"lz4-v2", L"stub", L"stub-v2"}}}},
      {L"allow-compression", 1, {{Param::Word, {L"yes", L"no", L"asym"}}}},
      // Packet sizes.
      {L"tun-mtu", 1, {kNumber}},
      {L"tun-mtu-extra", 1, {kNumber}},
      {L"link-mtu", 1, {kNumber}},
      {L"fragment", 1, {kNumber, {Param::Word, {L"mtu"}}}},
      {L"mssfix", 0, {kNumber, {Param::Word, {L"mtu", L"fixed"}}}},
      {L"mtu-disc", 1, {{Param::Word, {L"no", L"maybe", L"yes"}}}},
      {L"mtu-test", 0, {}},
      {L"sndbuf", 1, {kNumber}},
      {L"rcvbuf", 1, {kNumber}},
      {L"txqueuelen", 1, {kNumber}},
      // Timers.
      {L"ping", 1, {kNumber}},
      {L"ping-restart", 1, {kNumber}},
      {L"ping-exit", 1, {kNumber}},
      {L"keepalive", 2, {kNumber, kNumber}},
      {L"inactive", 1, {kNumber, kNumber}},
      {L"connect-retry", 1, {kNumber, kNumber}},
      {L"connect-retry-max", 1, {kNumber}},
      {L"connect-timeout", 1, {kNumber}},
      {L"server-poll-timeout", 1, {kNumber}},
      {L"hand-window", 1, {kNumber}},
      {L"tran-window", 1, {kNumber}},
      {L"tls-timeout", 1, {kNumber}},
      {L"resolv-retry", 1, {kName}},  // seconds or "infinite"
      {L"explicit-exit-notify", 0, {kNumber}},
      {L"route-delay", 0, {kNumber, kNumber}},
      // Renegotiation and replay protection.
      {L"reneg-sec", 1, {kNumber, kNumber}},
      {L"reneg-bytes", 1, {kNumber}},
      {L"reneg-pkts", 1, {kNumber}},
      {L"replay-window", 1, {kNumber, kNumber}},
      {L"mute-replay-warnings", 0, {}},
      // Verbosity.
      {L"verb", 1, {kNumber}},
      {L"mute", 1, {kNumber}},
      // Checks on the server's certificate.
      {L"remote-cert-tls", 1, {{Param::Word, {L"server"}}}},
      {L"ns-cert-type", 1, {{Param::Word, {L"server"}}}},
      {L"remote-cert-ku", 1, {{Param::Hex}, {Param::Hex}, {Param::Hex}, {Param::Hex}}},
      {L"remote-cert-eku", 1, {{Param::X509Name}}},
      {L"verify-x509-name", 1, {{Param::X509Name}, {Param::Word, {L"subject", L"name", L"name-prefix"}}}},
      // Behaviour of the tunnel itself.
      {L"float", 0, {}},
      {L"persist-key", 0, {}},
      {L"persist-tun", 0, {}},
      {L"persist-remote-ip", 0, {}},
      {L"persist-local-ip", 0, {}},
      {L"fast-io", 0, {}},
      {L"auth-nocache", 0, {}},
      {L"auth-retry", 1, {{Param::Word, {L"none", L"nointeract", L"interact"}}}},
      {L"push-peer-info", 0, {}},
      {L"tls-exit", 0, {}},
      {L"single-session", 0, {}},
      // How openvpn sets up the Windows adapter. These use the system's own
      // tools at most (route.exe, netsh, ipconfig); nothing here names one.
      {L"route-method", 1, {{Param::Word, {L"adaptive", L"api", L"exe"}}}, true},
      {L"ip-win32", 1, {{Param::Word, {L"manual", L"netsh", L"ipapi", L"dynamic", L"adaptive"}}, kNumber, kNumber},
       true},
      {L"tap-sleep", 1, {kNumber}, true},
      {L"dhcp-renew", 0, {}, true},
      {L"dhcp-release", 0, {}, true},
      {L"register-dns", 0, {}, true},
      {L"block-outside-dns", 0, {}, true},
  };
  return options;
}

const OptionSpec* FindOption(std::wstring_view name) {
  for (const OptionSpec& option : AllowedOptions())
    if (name == option.name) return &option;
  return nullptr;
}

bool IsSeparator(wchar_t c) { return c == L' ' || c == L'\t' || c == L','; }

std::vector<std::wstring_view> SplitOptions(std::wstring_view text) {
  std::vector<std::wstring_view> tokens;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !IsSeparator(text[i])) ++i;
    if (i > start) tokens.push_back(text.substr(start, i - start));
  }
  return tokens;
}

}  // namespace

bool IsAcceptableServerHost(std::wstring_view host) {
  if (host.empty() || host.size() > 253 || host[0] == L'-') return false;
  for (wchar_t c : host)
    if (!IsAsciiAlnum(c) && c != L'-' && c != L'.') return false;
  return true;
}

bool IsAcceptablePort(std::wstring_view port) {
  if (port.empty()) return true;
  if (port.size() > 5) return false;
  unsigned value = 0;
  for (wchar_t c : port) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  return value >= 1 && value <= 65535;
}

OpenVpnOptionsCheck CheckOpenVpnExtraOptions(std::wstring_view options, bool forWindows) {
  const std::vector<std::wstring_view> tokens = SplitOptions(options);
  auto refuse = [](std::wstring_view token) { return OpenVpnOptionsCheck{false, ShownToUser(token), {}}; };
  OpenVpnOptionsCheck check;
  for (std::size_t i = 0; i < tokens.size();) {
    const std::size_t first = i;
    const std::wstring_view token = tokens[i];
    // Anything that is not blank-separated plain ASCII could be read by the
    // program's command-line rules as something else than we checked.
    for (wchar_t c : token)
      if (c < 0x21 || c > 0x7E || c == L'"' || c == L'\\' || c == L'\'') return refuse(token);
    if (token.size() < 3 || token.substr(0, 2) != L"--") return refuse(token);
    const OptionSpec* option = FindOption(token.substr(2));
    if (!option) return refuse(token);
    ++i;
    std::size_t taken = 0;
    while (taken < option->params.size() && i < tokens.size() && tokens[i].substr(0, 2) != L"--") {
      if (!MatchesParam(option->params[taken], tokens[i])) return refuse(tokens[i]);
      ++taken;
      ++i;
    }
    if (static_cast<int>(taken) < option->required) return refuse(token);
    // A further plain word would be a parameter the option does not have.
    if (i < tokens.size() && tokens[i].substr(0, 2) != L"--") return refuse(tokens[i]);
    if (option->windowsOnly && !forWindows) continue;
    for (std::size_t k = first; k < i; ++k) {
      if (!check.commandLine.empty()) check.commandLine += L' ';
      check.commandLine += tokens[k];
    }
  }
  return check;
}

std::wstring ShownToUser(std::wstring_view text) {
  constexpr std::size_t kLongest = 64;
  std::wstring shown;
  for (wchar_t c : text.substr(0, kLongest)) shown.push_back(c >= 0x20 && c < 0x7F ? c : L'?');
  if (text.size() > kLongest) shown += L"...";
  return shown;
}
