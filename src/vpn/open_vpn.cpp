#include "vpn/open_vpn.h"

#include <algorithm>
#include <mutex>

#include "platform/strings.h"
#include "platform/text_parse.h"
#include "text/text_table.h"
#include "vpn/open_vpn_options.h"
#include "vpn/open_vpn_platform.h"

namespace {

constexpr std::string_view kPushPrefix = "PUSH: Received control message: ";

std::mutex& DirectoryLock() {
  static std::mutex lock;
  return lock;
}
std::wstring& DirectoryValue() {
  static std::wstring directory;
  return directory;
}

#ifdef _WIN32
constexpr wchar_t kSeparator = L'\\';
#else
constexpr wchar_t kSeparator = L'/';
#endif

bool IsTrimmed(char c) { return c == ' ' || c == '\'' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string_view> Split(std::string_view s, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t at = s.find(separator);
    parts.push_back(s.substr(0, at));
    if (at == std::string_view::npos) return parts;
    s.remove_prefix(at + 1);
  }
}

std::wstring Widen(std::string_view s) { return NarrowToWide(s); }

}  // namespace

std::wstring OpenVpnDirectory() {
  std::lock_guard<std::mutex> lock(DirectoryLock());
  return DirectoryValue();
}

void SetOpenVpnDirectory(const std::wstring& directory) {
  std::lock_guard<std::mutex> lock(DirectoryLock());
  DirectoryValue() = directory;
}

OpenVpnParams SplitOpenVpnParams(std::wstring_view text) {
  OpenVpnParams out;
  const std::size_t first = text.find(L',');
  if (first == std::wstring_view::npos) return out;
  const std::wstring_view protocol = text.substr(0, first);
  const std::wstring_view rest = text.substr(first + 1);
  const std::size_t second = rest.find(L',');
  out.port = std::wstring(rest.substr(0, second));
  if (second != std::wstring_view::npos) out.extraOptions = std::wstring(rest.substr(second + 1));
  if (protocol == L"tcp") out.protocolPiece = L" tcp-client";
  else if (protocol == L"udp") out.protocolPiece = L" udp";
  return out;
}

std::optional<std::string> ExtractPushMessage(std::string_view buffer) {
  const std::size_t start = buffer.find(kPushPrefix);
  if (start == std::string_view::npos) return std::nullopt;
  const std::size_t from = start + kPushPrefix.size();
  const std::size_t end = buffer.find('\n', from);
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(buffer.substr(from, end - from));
}

OpenVpnPush ParsePushMessage(std::string_view message) {
  while (!message.empty() && IsTrimmed(message.front())) message.remove_prefix(1);
  while (!message.empty() && IsTrimmed(message.back())) message.remove_suffix(1);
  OpenVpnPush push;
  for (std::string_view item : Split(message, ',')) {
    const std::vector<std::string_view> tokens = Split(item, ' ');
    if (tokens[0] == "route-gateway" && tokens.size() >= 2) {
      push.gateway = Widen(TrimAsciiSpace(tokens[1]));
    } else if (tokens[0] == "dhcp-option" && tokens.size() >= 3 && EqualsNoCaseAscii(tokens[1], "dns")) {
      const std::string_view server = TrimAsciiSpace(tokens[2]);
      if (!server.empty()) push.dns.push_back(Widen(server));
    } else if (tokens[0] == "ifconfig" && tokens.size() >= 2) {
      push.localIp = Widen(TrimAsciiSpace(tokens[1]));
    }
  }
  return push;
}

std::wstring BuildOpenVpnCommandLine(const OpenVpnCommand& c) {
  const OpenVpnParams params = SplitOpenVpnParams(c.openVpnParams);
  std::wstring line = L"\"" + OpenVpnProgramPath(c.openVpnDirectory, c.systemProgram) + L"\"";
  line += L"  --proto " + params.protocolPiece;
  line += L" --mssfix 1320 --remote " + c.serverHost + L" " + params.port;
  line += L" --nobind --dev tap --auth-user-pass  --pull --ca \"" + c.openVpnDirectory + kSeparator + L"ca.crt\"";
  line += L" --tls-client" + OpenVpnServiceOption() + L" --remap-usr1 SIGTERM --verb 5";
  if (c.routeMode == RouteModeDefaultGateway) line += L" --redirect-gateway def1";
  if (c.proxyType == 1) {
    line += L" --http-proxy " + c.proxyServer + L" " + std::to_wstring(c.proxyPort) + L" stdin";
  } else if (c.proxyType == 2) {
    line += L" --socks-proxy " + c.proxyServer + L" " + std::to_wstring(c.proxyPort);
  }
  // Separate arguments, as the check read them; a refused text gives none.
  line += L" " + CheckOpenVpnExtraOptions(params.extraOptions).commandLine;
  return line;
}

std::wstring RefusedOpenVpnSetting(const OpenVpnCommand& c) {
  if (!IsAcceptableServerHost(c.serverHost)) return L"server address \"" + ShownToUser(c.serverHost) + L"\"";
  const OpenVpnParams params = SplitOpenVpnParams(c.openVpnParams);
  if (!IsAcceptablePort(params.port)) return L"port \"" + ShownToUser(params.port) + L"\"";
  // The proxy is the user's own setting, but it lands on the same line.
  if (c.proxyType != 0 && !IsAcceptableServerHost(c.proxyServer))
    return L"proxy address \"" + ShownToUser(c.proxyServer) + L"\"";
  const OpenVpnOptionsCheck extra = CheckOpenVpnExtraOptions(params.extraOptions);
  if (!extra.accepted) return extra.refused;
  return {};
}

TrafficLetters CTrafficLetterCounter::Count(std::string_view text) {
  TrafficLetters done;
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto commitHeld = [&] {
    if (held_ == 'w' || held_ == 'W') ++done.sent;
    else if (held_ == 'r' || held_ == 'R') ++done.received;
    held_ = 0;
  };
  for (char c : text) {
    const bool progress = c == 'r' || c == 'R' || c == 'w' || c == 'W';
    if (inRun_ && progress) {
      // The letter before this one was progress; this one may still be the
      // first of a word ("Wed", a time stamp's day), so it waits.
      commitHeld();
      held_ = c;
      continue;
    }
    if (inRun_) {
      // A letter goes on into a word: the held one was the word's. Anything
      // else (a line end, the digits of a time stamp) ends the run.
      if (isLetter(c)) held_ = 0;
      else commitHeld();
      inRun_ = false;
      lineStart_ = c == '\n';
      continue;
    }
    if (lineStart_ && progress) {
      inRun_ = true;
      held_ = c;
      continue;
    }
    lineStart_ = c == '\n';
  }
  return done;
}

TrafficLetters CTrafficLetterCounter::Pending() const {
  TrafficLetters pending;
  if (held_ == 'w' || held_ == 'W') pending.sent = 1;
  else if (held_ == 'r' || held_ == 'R') pending.received = 1;
  return pending;
}

TrafficLetters CTrafficLetterCounter::ResumeMidLine() {
  const TrafficLetters settled = Pending();
  held_ = 0;
  inRun_ = false;
  lineStart_ = false;
  return settled;
}

std::vector<ForwardRow> LeftoverTunnelRows(const std::vector<ForwardRow>& rows, std::uint32_t tunnelIfIndex,
                                           IForwardTable& table) {
  std::vector<ForwardRow> leftover;
  if (tunnelIfIndex == 0) return leftover;
  for (const ForwardRow& row : rows)
    if (row.ifIndex == tunnelIfIndex && row.protocol == kRouteProtocolNetMgmt && !table.OwnsRow(row))
      leftover.push_back(row);
  return leftover;
}

COpenVpn::COpenVpn(IForwardTable& forwardTable, std::unique_ptr<CVpnRouteRequestBaseServer> routeRequestServer,
                   IClock& clock)
    : CGeneralVpn(forwardTable, std::move(routeRequestServer)), openVpnDirectory(OpenVpnDirectory()), clock_(clock) {
  SetType(3);
}

COpenVpn::~COpenVpn() {
  // The reader thread calls into this object; it must be gone before any
  // part of it is.
  StopChild();
}

std::int32_t COpenVpn::Start() {
  CGeneralVpn::Start();  // no default route is no reason to give up here
  pushHandled = false;
  AddTraffic(traffic.ResumeMidLine());
  sigtermCarry.clear();
  ClearOutput();
  StoreState(GENERAL_VPN_STATE_PREPARE, GENERAL_VPN_ERROR_SUCCESS, 0);
  OpenVpnCommand command;
  command.openVpnDirectory = openVpnDirectory;
  command.serverHost = GetServerHost();
  command.openVpnParams = openVpnParams;
  command.routeMode = GetRouteMode();
  const VpnProxy proxy = GetProxy();
  command.proxyType = proxy.type;
  command.proxyServer = proxy.server;
  command.proxyPort = proxy.port;
  command.systemProgram = systemOpenVpnProgram;
  // Run with our rights: a program others may change is not run at all.
  refusedSetting = UntrustedOpenVpnProgram(OpenVpnProgramPath(command.openVpnDirectory, command.systemProgram));
  if (!refusedSetting.empty()) {
    StoreState(GENERAL_VPN_STATE_PREPARE, OPEN_VPN_ERROR_EXEC, 0);
    return OPEN_VPN_ERROR_EXEC;
  }
  refusedSetting = RefusedOpenVpnSetting(command);
  if (!refusedSetting.empty()) {
    StoreState(GENERAL_VPN_STATE_PREPARE, OPEN_VPN_ERROR_REFUSED_SETTING, 0);
    return OPEN_VPN_ERROR_REFUSED_SETTING;
  }
  if (!StartChild(BuildOpenVpnCommandLine(command))) {
    StoreState(GENERAL_VPN_STATE_PREPARE, OPEN_VPN_ERROR_EXEC, 0);
    return OPEN_VPN_ERROR_EXEC;
  }
  return 0;
}

std::int32_t COpenVpn::Stop() {
  RestoreRoutes();
  // Found while openvpn still holds the address.
  const std::uint32_t tunnel = IsRunning() ? TunnelInterface() : 0;
  bool forced = false;
  {
    COpenVpnExitRequest exit(*this);
    // An openvpn that ignores the request is ended here rather than left to
    // the destructor: once Stop returns, the reader is gone.
    const Tick began = clock_.Now();
    while (!WaitReaderIdle(kOpenVpnExitPollMs)) {
      if (TickElapsed(clock_.Now(), began) < kOpenVpnExitWaitMs) continue;
      StopChild();
      forced = true;
      break;
    }
    if (forced) RemoveLeftoverTunnelRows(tunnel);
    CGeneralVpn::Stop();
  }
  return 0;
}

std::uint32_t COpenVpn::TunnelInterface() {
  const std::wstring local = GetLocalIp();
  if (local.empty()) return 0;
  std::vector<AdapterAddress> adapters;
  if (ForwardTable().ListAdapters(adapters) != 0) return 0;
  for (const AdapterAddress& adapter : adapters)
    if (adapter.firstAddress == local) return adapter.ifIndex;
  return 0;
}

void COpenVpn::RemoveLeftoverTunnelRows(std::uint32_t tunnelIfIndex) {
  if (tunnelIfIndex == 0) return;
  std::vector<ForwardRow> rows;
  if (ForwardTable().ReadForwardTable(rows) != 0) return;
  for (const ForwardRow& row : LeftoverTunnelRows(rows, tunnelIfIndex, ForwardTable()))
    ForwardTable().DeleteForwardRow(row);
}

std::int32_t COpenVpn::GetStatistics(std::uint32_t& sent, std::uint32_t& received) {
  sent = sentCount;
  received = receivedCount;
  return 0;
}

std::wstring COpenVpn::GetErrorDetailText(std::int32_t) { return {}; }

std::wstring COpenVpn::GetErrorText(std::int32_t errorCode) {
  switch (errorCode) {
    case OPEN_VPN_ERROR_EXEC:
      // The program was refused before any start: say which and why.
      if (!refusedSetting.empty()) return GetText("OpenVpnProgramNotTrusted") + L" " + refusedSetting;
      return GetText("OPEN_VPN_ERROR_EXEC");
    case OPEN_VPN_ERROR_NO_ADAPTER:
      return GetText("OPEN_VPN_ERROR_NO_ADAPTER");
    case OPEN_VPN_ERROR_TLS_ERROR:
      return GetText("OPEN_VPN_ERROR_TLS_ERROR");
    case OPEN_VPN_ERROR_REFUSED_SETTING:
      return GetText("OPEN_VPN_ERROR_REFUSED_SETTING") + L" " + refusedSetting;
    default:
      return CGeneralVpn::GetErrorText(errorCode);
  }
}

void COpenVpn::OnOutput(const char* bytes, std::size_t count) {
  AppendOutput(bytes, count);
  ParseOpenVpnOutput();
}

void COpenVpn::OnChildExit() {
  ParseOpenVpnOutput();
  if (GetError() == GENERAL_VPN_ERROR_SUCCESS) SetState(GENERAL_VPN_STATE_DISCONNECTED, 0, 0);
}

void COpenVpn::ParseOpenVpnOutput() {
  enum Answer { kUser, kPassword, kProxyUser, kProxyPassword };
  struct Prompt {
    const char* text;
    Answer answer;
  };
  static const Prompt prompts[] = {
      {"Enter Auth Username:", kUser},
      {"Enter Auth Password:", kPassword},
      {"Enter SOCKS5 Proxy Username:", kProxyUser},
      {"Enter HTTP Proxy Username:", kProxyUser},
      {"Enter SOCKS5 Proxy Password:", kProxyPassword},
      {"Enter HTTP Proxy Password:", kProxyPassword},
  };
  for (const Prompt& p : prompts) {
    if (!OutputEndsWith(p.text)) continue;
    switch (p.answer) {
      case kUser: AnswerPrompt(GetUsername() + L"\n"); break;
      case kPassword: AnswerPrompt(GetPassword() + L"\n"); break;
      case kProxyUser: AnswerPrompt(GetProxy().username + L"\n"); break;
      case kProxyPassword: AnswerPrompt(GetProxy().password + L"\n"); break;
    }
    break;
  }

  struct Milestone {
    const char* text;
    std::int32_t state;
    std::int32_t error;
  };
  static const Milestone milestones[] = {
      {"Socket bind failed on local address", GENERAL_VPN_STATE_CONNECT, GENERAL_VPN_ERROR_CONNECT},
      {"There are no TAP-Win32 adapters on this system", GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER},
      // The openvpn we ship words it so; where Windows has no network
      // adapter class key at all (Wine) it stops at reading that key, and at
      // the log level we run it prints only that fatal form of the message.
      {"adapters on this system are currently in use or disabled", GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER},
      {"There are no TAP-Windows, Wintun or ovpn-dco adapters on this system", GENERAL_VPN_STATE_CONNECT,
       OPEN_VPN_ERROR_NO_ADAPTER},
      {"Error opening registry key: SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}",
       GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER},
      {"Error opening registry key: SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}",
       GENERAL_VPN_STATE_CONNECT, OPEN_VPN_ERROR_NO_ADAPTER},
      {"Control Channel MTU parms", GENERAL_VPN_STATE_PREPARE, 0},
      {"TLS: Initial packet from", GENERAL_VPN_STATE_CONNECT, 0},
      {"Peer Connection Initiated with", GENERAL_VPN_STATE_AUTHENTICATE, 0},
  };
  for (const Milestone& m : milestones)
    if (ConsumeOutputThrough(m.text)) SetState(m.state, m.error, 0);

  if (!pushHandled) {
    if (std::optional<std::string> message = ExtractPushMessage(GetOutput())) {
      SetState(GENERAL_VPN_STATE_AUTHENTICATED, 0, 0);
      pushHandled = true;
      HandlePush(*message);
    }
  }
  // A push without an address has been reported as a failure; a later
  // "Initialization Sequence Completed" must not turn it into a connection
  // and change routes without knowing the VPN's address.
  if (pushHandled && GetLocalIp().empty()) return;

  if (ConsumeOutputThrough("Initialization Sequence Completed")) {
    if (!pushHandled) {
      // Completed without any push: no address either, the same failure
      // as a push without one, and it stays so.
      ClearOutput();
      pushHandled = true;
      SetState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP, 0);
      return;
    }
    // The rest of this read is counted like any later read; dropping it
    // would make the counts depend on where openvpn's output was cut.
    AddTraffic(traffic.ResumeMidLine());
    sigtermCarry.clear();
    SetState(GENERAL_VPN_STATE_CONNECTED, 0, 0);
  }
  if (ConsumeOutputThrough("SIGTERM[soft,auth-failure]")) {
    ClearOutput();
    SetState(GENERAL_VPN_STATE_AUTHENTICATE, GENERAL_VPN_ERROR_INTERNAL, 0);
  }
  if (GetState() == GENERAL_VPN_STATE_ALL_DONE) {
    const std::string taken = TakeOutput();
    static constexpr std::string_view kSigterm = "SIGTERM[";
    const std::string seen = sigtermCarry + taken;
    sigtermCarry = seen.substr(seen.size() - std::min(seen.size(), kSigterm.size() - 1));
    if (seen.find(kSigterm) != std::string::npos) SetState(GENERAL_VPN_STATE_DISCONNECTED, 0, 0);
    AddTraffic(traffic.Count(taken));
  }
}

void COpenVpn::AddTraffic(const TrafficLetters& settled) {
  settledTraffic.sent += settled.sent;
  settledTraffic.received += settled.received;
  const TrafficLetters pending = traffic.Pending();
  sentCount = settledTraffic.sent + pending.sent;
  receivedCount = settledTraffic.received + pending.received;
}

void COpenVpn::HandlePush(std::string_view message) {
  const OpenVpnPush push = ParsePushMessage(message);
  if (push.gateway) SetVpnGateway(*push.gateway);
  if (push.localIp) SetLocalIp(*push.localIp);
  if (GetLocalIp().empty()) {
    SetState(GENERAL_VPN_STATE_CONNECTED, GENERAL_VPN_ERROR_GET_LOCAL_IP, 0);
    return;
  }
  SetVpnDns(push.dns.size() > 0 ? push.dns[0].c_str() : L"", push.dns.size() > 1 ? push.dns[1].c_str() : L"");
}
