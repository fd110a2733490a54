#include "cli/terminal_client.h"

#include "cli/leftover_openvpn.h"
#include "routing/firewall_linux.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <set>
#include <vector>

#include "account/machine_identity.h"
#include "account/reply_document.h"
#include "account/settings.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/strings.h"
#include "routing/route_table_linux.h"
#include "servers/policy_chooser.h"
#include "servers/policy_view_logic.h"
#include "servers/speed_test.h"
#include "text/text_table.h"
#include "vpn/console_redirector.h"
#include "vpn/open_vpn.h"

namespace {

constexpr int kSpeedTestCapMs = 10000;
constexpr int kLeftoverWaitMs = 10000;
constexpr auto kMonitorPeriod = std::chrono::milliseconds(kMonitorPeriodMs);

// The project's own version, which the service's RequiredClientVersion is
// compared with.
class CBuiltInVersion : public IModuleVersion {
 public:
  bool LoadVersion(const wchar_t*) override { return true; }
  std::uint64_t FileVersion() const override {
    return (std::uint64_t{QUILLNET_VERSION_MAJOR} << 48) | (std::uint64_t{QUILLNET_VERSION_MINOR} << 32) |
           (std::uint64_t{QUILLNET_VERSION_PATCH} << 16) | std::uint64_t{QUILLNET_VERSION_TWEAK};
  }
  std::wstring GetValue(std::wstring_view) const override { return {}; }
};

std::int64_t SecondsNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::wstring OneLine(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (c == L'\r') continue;
    out += c == L'\n' ? L' ' : c;
  }
  while (!out.empty() && out.back() == L' ') out.pop_back();
  return TerminalSafe(out);
}

std::int32_t BestSpeed(const VpnServerInfo& s) {
  std::int32_t best = -1;
  for (std::int32_t r : {s.icmpResult, s.udpResult})
    if (r >= 0 && (best < 0 || r < best)) best = r;
  return best;
}

std::wstring SpeedText(std::int32_t result) {
  if (result >= 0) return std::to_wstring(result) + L" ms";
  return result == kSpeedTimeout ? L"timeout" : L"-";
}

}  // namespace

void CLinuxConnectSystem::DownloadAndRunUpdate(const std::string&) {
  std::fputs("quillnet: install a current openvpn from the system's packages\n", stderr);
}

std::unique_ptr<CGeneralVpn> CLinuxConnectionFactory::Create(std::int32_t type, const VpnServerInfo& server) {
  if (type != kVpnTypeOpenVpn) return nullptr;
  auto vpn = std::make_unique<COpenVpn>(table_);
  vpn->openVpnParams = server.openVpn;
  // Made before the component check that would set the process's folder.
  vpn->openVpnDirectory = programFolder_ + L"openvpn/";
  return vpn;
}

CTerminalClient::CTerminalClient(CMessageQueue& queue, const CliOptions& options, std::wstring password)
    : queue_(queue), options_(options), password_(std::move(password)) {}

CTerminalClient::~CTerminalClient() {
  connect_.reset();
  main_.reset();
}

void CTerminalClient::PrintLine(const std::wstring& text) {
  std::fputs((WideToNarrow(text) + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void CTerminalClient::SetStatusLine(const std::wstring& text) {
  const std::wstring line = OneLine(text);
  if (line.empty() || line == lastStatus_) return;
  lastStatus_ = line;
  PrintLine(L"status: " + line);
}

void CTerminalClient::SetExpiryText(const std::wstring& text) { PrintLine(L"expires: " + OneLine(text)); }

void CTerminalClient::SetPublicAddress(const std::wstring& text) {
  if (!text.empty()) PrintLine(L"public address: " + OneLine(text));
}

LoginForm CTerminalClient::ReadLoginForm() {
  // The terminal never keeps the password: it is asked for on every run.
  return LoginForm{options_.account, password_, false};
}

void CTerminalClient::StartTimer(std::uint32_t id, std::uint32_t delayMs) {
  timers_[id] = Clock::now() + std::chrono::milliseconds(delayMs);
}

void CTerminalClient::ShowBox(const std::wstring& text, BoxIcon icon) {
  const char* kind = icon == BoxIcon::Error ? "error: " : icon == BoxIcon::Warning ? "warning: " : "note: ";
  std::wstring body = text;
  while (!body.empty() && (body.back() == L'\n' || body.back() == L'\r')) body.pop_back();
  // A box may list several reports, one per paragraph.
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find(L'\n', start);
    if (end == std::wstring::npos) end = body.size();
    const std::wstring line = OneLine(body.substr(start, end - start));
    if (!line.empty()) std::fputs((kind + WideToNarrow(line) + "\n").c_str(), stderr);
    start = end + 1;
  }
  std::fflush(stderr);
}

bool CTerminalClient::AskYesNo(const std::wstring& text, BoxIcon, bool) {
  // Nobody is there to answer in the middle of a run: the safe answer.
  ShowBox(text + L"\n(answered No)", BoxIcon::Warning);
  return false;
}

void CTerminalClient::ShowAccelerateDialog() {
  PrintLine(L"per-application mode: activated programs ask for their routes through the tunnel");
}

void CTerminalClient::RunBlocked(IOperation& operation, std::uint32_t) {
  struct Host : IBlockedOperationHost {
    explicit Host(CTerminalClient& c) : client(c) {}
    void SetStatusText(const std::wstring& text) override { client.SetStatusLine(text); }
    CTerminalClient& client;
  } host(*this);
  operation.Run(host);
}

UpdateDownloadOutcome CTerminalClient::RunUpdateDownload(const std::wstring& url, const std::wstring&) {
  ShowBox(L"this client is older than the service requires; a new one is at " + url, BoxIcon::Error);
  // Nothing was downloaded, and not because anybody cancelled.
  return {false, false};
}

void CTerminalClient::OpenUrl(const std::wstring& url) { PrintLine(L"see: " + OneLine(url)); }

void CTerminalClient::ExitClient() {
  if (connect_) {
    connect_->ExitClient();
  } else {
    windowGone_ = true;
  }
}

void CTerminalClient::RunDownload(CDownloadRun& run) {
  const CDownloadRun::StartReport report = run.Start();
  if (report.noRequest || stopRequested_) {
    run.CancelByUser();
    return;
  }
  download_ = &run;
  while (run.GetState() == CDownloadRun::State::Running) PumpOnce(200);
  download_ = nullptr;
}

void CTerminalClient::MeasureSpeeds(VpnServerMap& servers) {
  CSpeedTest test(queue_);
  QueueUntested(servers, *test.LockQueues());
  test.Start(ReadSpeedTestOverrides(OverrideFilePath()));
  auto done = [&] {
    for (const auto& [id, s] : servers) {
      if (test.HasWorker(kSpeedWorkerIcmp) && s.icmpResult < kSpeedTimeout) return false;
      if (test.HasWorker(kSpeedWorkerUdp) && s.udpResult < kSpeedTimeout) return false;
    }
    return true;
  };
  const auto until = Clock::now() + std::chrono::milliseconds(kSpeedTestCapMs);
  while (!done() && !stopRequested_ && Clock::now() < until) {
    std::optional<PostedMessage> m = queue_.Wait(200);
    if (!m) continue;
    if (m->message == kMsgIcmpResult || m->message == kMsgUdpResult) {
      auto it = servers.find(static_cast<std::int32_t>(m->wParam));
      if (it == servers.end()) continue;
      (m->message == kMsgIcmpResult ? it->second.icmpResult : it->second.udpResult) =
          static_cast<std::int32_t>(m->lParam);
    } else {
      Dispatch(*m);
    }
  }
  test.Stop();
}

void CTerminalClient::ListOffers(const std::wstring& replyPath) {
  for (const RouteRow& row : BuildRouteRows(replyPath)) {
    std::wstring flag = L"all";
    if (row.choice.definer == kRouteDefinerPerApp) flag = L"app";
    if (row.choice.definer == kRouteDefinerListed) flag = L"listed:" + std::to_wstring(row.choice.internalIndex);
    if (row.choice.definer == kRouteDefinerCustom) flag = L"custom:" + std::to_wstring(row.choice.internalIndex);
    PrintLine(L"route " + flag + L": " + OneLine(row.title));
  }
  // Only what the window's chooser would show on one of its tabs.
  VpnServerMap all = LoadServerList(replyPath);
  std::set<std::wstring> shownCategories;
  for (const CategoryTab& tab : BuildCategoryTabs(all)) shownCategories.insert(tab.key);
  VpnServerMap servers;
  for (auto& [id, server] : all) {
    if (id < 0) continue;
    for (const std::wstring& category : server.categories) {
      if (shownCategories.count(category) == 0) continue;
      servers.emplace(id, server);
      break;
    }
  }
  MeasureSpeeds(servers);
  if (stopRequested_) return;
  for (const auto& [id, s] : servers) {
    std::wstring line = L"server " + std::to_wstring(id) + L": " + OneLine(s.title) + L" " + OneLine(s.host) +
                        L" icmp " + SpeedText(s.icmpResult) + L", udp " + SpeedText(s.udpResult);
    if (!OffersVpnType(s, kVpnTypeOpenVpn)) line += L" (no OpenVPN: not available on Linux)";
    PrintLine(line);
  }
  listed_ = true;
}

std::optional<ChooserResult> CTerminalClient::RunChooser(const std::wstring& replyPath) {
  if (options_.command == "login") {
    ListOffers(replyPath);
    return std::nullopt;
  }
  if (renewing_) return RenewalChoice(*renewing_, LoadServerList(replyPath), kVpnTypeOpenVpn);
  // What is not on the command line is the last choice, as the window's
  // chooser preselects it.
  const ChooserMemory memory = ReadChooserMemory();
  const std::vector<RouteRow> rows = BuildRouteRows(replyPath);
  int routeRow = -1;
  if (options_.routeGiven) {
    for (std::size_t i = 0; i < rows.size() && routeRow < 0; ++i) {
      const VpnRouteChoice& choice = rows[i].choice;
      if (choice.definer == options_.routeDefiner &&
          (options_.routeDefiner < kRouteDefinerListed || choice.internalIndex == options_.routeIndex))
        routeRow = static_cast<int>(i);
    }
  } else {
    routeRow = RouteRowToSelect(rows, memory.lastVpnRouteDefiner, memory.lastVpnRouteInternalIndex);
    if (routeRow < 0 && !rows.empty()) routeRow = 0;
  }
  if (routeRow < 0) {
    ShowBox(L"the service offers no such route choice", BoxIcon::Error);
    return std::nullopt;
  }
  ChooserResult result;
  result.route = rows[static_cast<std::size_t>(routeRow)].choice;
  PrintLine(L"route: " + OneLine(rows[static_cast<std::size_t>(routeRow)].title));
  // A remembered dial-up type means nothing here: automatic then.
  result.vpnType = options_.typeGiven || memory.vpnType != kVpnTypeOpenVpn ? options_.vpnType : kVpnTypeOpenVpn;

  VpnServerMap servers;
  for (auto& [id, server] : LoadServerList(replyPath))
    if (id >= 0 && OffersVpnType(server, kVpnTypeOpenVpn) && OffersVpnType(server, result.vpnType))
      servers.emplace(id, server);
  if (servers.empty()) {
    ShowBox(L"the service offers no OpenVPN server", BoxIcon::Error);
    return std::nullopt;
  }
  CliServerPick pick = options_.server;
  std::int32_t serverId = options_.serverId;
  if (!options_.serverGiven && servers.count(memory.lastVpnServerId)) {
    pick = CliServerPick::ById;
    serverId = memory.lastVpnServerId;
  }
  if (pick == CliServerPick::Fastest) {
    MeasureSpeeds(servers);
    if (stopRequested_) return std::nullopt;
  }
  for (const auto& [id, s] : servers) {
    std::wstring line = L"server " + std::to_wstring(id) + L": " + OneLine(s.title) + L" " + OneLine(s.host);
    if (pick == CliServerPick::Fastest)
      line += L" icmp " + SpeedText(s.icmpResult) + L", udp " + SpeedText(s.udpResult);
    PrintLine(line);
  }
  const VpnServerInfo* chosen = nullptr;
  if (pick == CliServerPick::ById) {
    auto it = servers.find(serverId);
    if (it != servers.end()) chosen = &it->second;
  } else if (pick == CliServerPick::Fastest) {
    for (const auto& [id, s] : servers) {
      const std::int32_t speed = BestSpeed(s);
      if (speed >= 0 && (!chosen || speed < BestSpeed(*chosen))) chosen = &s;
    }
    if (!chosen) chosen = &servers.begin()->second;  // none answered: the first
  } else {
    chosen = &servers.begin()->second;
  }
  if (!chosen) {
    ShowBox(L"the service offers no OpenVPN server with id " + std::to_wstring(serverId), BoxIcon::Error);
    return std::nullopt;
  }
  result.server = *chosen;
  PrintLine(L"chosen server: " + std::to_wstring(chosen->id));
  alternates_ = servers;

  ConnectCheck remember;
  remember.writeRoute = remember.writeServer = true;
  remember.lastVpnRouteDefiner = result.route.definer;
  remember.lastVpnRouteInternalIndex = result.route.internalIndex;
  remember.lastVpnServerId = chosen->id;
  remember.lastVpnTabGroupIndex = memory.lastVpnTabGroupIndex;
  remember.vpnType = result.vpnType;
  WriteChooserMemory(remember);
  return result;
}

void CTerminalClient::StartConnect(const ConnectPlan& plan) {
  if (renewing_) {
    // A reconnect's login: its values, no new connection.
    TakeRenewedLogin(*renewing_, plan);
    renewed_ = true;
    return;
  }
  ConnectPlan openVpnOnly = plan;
  openVpnOnly.alternates = alternates_;
  openVpnOnly.vpnTypes.clear();
  for (std::int32_t type : plan.vpnTypes) {
    if (type == kVpnTypeOpenVpn)
      openVpnOnly.vpnTypes.push_back(type);
    else
      PrintLine(std::wstring(type == kVpnTypePptp ? L"PPTP" : L"L2TP") + L": not available on Linux, skipped");
  }
  if (openVpnOnly.vpnTypes.empty()) {
    ShowBox(L"the chosen server offers no VPN type this system can run", BoxIcon::Error);
    return;
  }
  // The block goes in before openvpn starts: nothing slips out meanwhile.
  GuardTraffic(FirewallPhase::Connecting, &plan.server);
  connectStarted = true;
  connectStarted_ = Clock::now();
  nextMonitor_ = connectStarted_ + kMonitorPeriod;
  main_->SetConnectionPresent(true);
  connect_->StartConnect(openVpnOnly);
}

void CTerminalClient::OnSignal(int signal) {
  if (signal == SIGUSR1) {
    ToggleConnection();
    return;
  }
  if (stopRequested_) return;
  stopRequested_ = true;
  PrintLine(signal == SIGINT ? L"interrupted: disconnecting" : L"terminated: disconnecting");
  if (download_) download_->CancelByUser();
  ExitClient();
}

void CTerminalClient::ToggleConnection() {
  // Not while a login runs: the flow is not ours to end then.
  if (stopRequested_ || windowGone_ || download_ || !connect_) return;
  if (connectStarted && connect_->Phase() != kPhaseIdle) {
    connectStarted = false;
    wasConnected_ = false;
    lastSent_ = lastReceived_ = 0;
    idleOnRequest_ = true;
    connect_->OnDisconnect();
    GuardTraffic(FirewallPhase::UserDisconnected, nullptr);
    PrintLine(L"idle: disconnected, the routes restored; SIGUSR1 connects again");
    return;
  }
  if (!idleOnRequest_) return;
  idleOnRequest_ = false;
  main_->SetConnectionPresent(false);
  main_->OnConnect();
  if (!connectStarted && !stopRequested_) {
    idleOnRequest_ = true;
    PrintLine(L"idle: not connected; SIGUSR1 tries again");
  }
}

void CTerminalClient::Dispatch(const PostedMessage& message) {
  if (message.message == kCliSignalMessage) {
    OnSignal(static_cast<int>(message.wParam));
  } else if (message.message == CDownloadRun::kMessage) {
    // Transfer events only mean something to the run still open.
    if (download_) download_->OnTransferEvent(message.wParam, message.lParam);
  } else if (!main_->OnMessage(message)) {
    // A tunnel that ends before it is up: its last lines say why, and the
    // flow is about to set the connection aside.
    CGeneralVpn* vpn = connectStarted ? connect_->Connection() : nullptr;
    if (vpn && connect_->Phase() == kPhaseConnecting && vpn->GetState() == GENERAL_VPN_STATE_DISCONNECTED)
      PrintChildOutput(*vpn);
    connect_->OnMessage(message);
  }
}

void CTerminalClient::FireDueTimers() {
  const Clock::time_point now = Clock::now();
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->second > now) {
      ++it;
      continue;
    }
    const std::uint32_t id = it->first;
    timers_.erase(it);
    main_->OnTimer(id);
    it = timers_.begin();
  }
  // Ticks also while idle, as the window's timer does: a parked connection
  // is let go on the first tick after its delay, not at the next connect.
  if (!connect_ || windowGone_ || now < nextMonitor_) return;
  nextMonitor_ = now + kMonitorPeriod;
  connect_->OnMonitorTick();
  if (!connectStarted || connect_->Phase() != kPhaseConnected || !connect_->Connection()) return;
  std::uint32_t sent = 0, received = 0;
  if (connect_->Connection()->GetStatistics(sent, received) != 0) return;
  if (sent == lastSent_ && received == lastReceived_) return;
  lastSent_ = sent;
  lastReceived_ = received;
  PrintLine(L"traffic: " + std::to_wstring(sent) + L" packets sent, " + std::to_wstring(received) + L" received");
}

void CTerminalClient::PumpOnce(int capMs) {
  Clock::time_point wake = Clock::now() + std::chrono::milliseconds(capMs);
  for (const auto& [id, at] : timers_) wake = std::min(wake, at);
  if (connect_) wake = std::min(wake, nextMonitor_);
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
  if (std::optional<PostedMessage> m = queue_.Wait(static_cast<int>(std::max<long long>(wait, 0))))
    Dispatch(*m);
  FireDueTimers();
}

void CTerminalClient::PrintChildOutput(CGeneralVpn& vpn) {
  auto* child = dynamic_cast<CConsoleRedirector*>(&vpn);
  if (!child) return;
  const std::string output = child->GetOutput();
  // The last lines say why; the child's text is shown, never interpreted.
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    lines.push_back(OneLine(NarrowToWide(output.substr(start, end - start))));
    start = end + 1;
  }
  const std::size_t first = lines.size() > 8 ? lines.size() - 8 : 0;
  for (std::size_t i = first; i < lines.size(); ++i)
    if (!lines[i].empty()) std::fputs(("openvpn: " + WideToNarrow(lines[i]) + "\n").c_str(), stderr);
}

bool CTerminalClient::RenewLogin(ConnectPlan& plan) {
  if (!main_ || renewing_ || stopRequested_) return false;
  PrintLine(L"reconnect: logging in again");
  renewing_ = &plan;
  renewed_ = false;
  main_->SetConnectionPresent(false);
  main_->OnConnect();
  // The login ran to its end here: the terminal's transfers are modal.
  main_->SetConnectionPresent(true);
  renewing_ = nullptr;
  return renewed_;
}

void CTerminalClient::ResolveProtection() {
  protection_ = ReadProtectionSettings();
  const bool given = options_.leakProtection || options_.allowLocalNetwork || options_.reconnect;
  if (options_.leakProtection) protection_.leakProtection = *options_.leakProtection;
  if (options_.allowLocalNetwork) protection_.allowLocalNetwork = *options_.allowLocalNetwork;
  if (options_.reconnect) protection_.reconnect = *options_.reconnect;
  if (given) WriteProtectionSettings(protection_);
  auto onOff = [](bool on) { return std::wstring(on ? L"on" : L"off"); };
  PrintLine(L"protection: leak protection " + onOff(protection_.leakProtection) + L", local network " +
            (protection_.allowLocalNetwork ? L"allowed" : L"blocked") + L", reconnect " +
            onOff(protection_.reconnect));
  if (connect_) connect_->SetReconnect(protection_.reconnect);
}

void CTerminalClient::GuardTraffic(FirewallPhase phase, const VpnServerInfo* server) {
  if (!guard_) return;
  LeakGuardFacts facts =
      LeakGuardFactsOf(phase, server ? *server : connect_->Server(), connect_ ? connect_->Connection() : nullptr);
  facts.leakProtection = protection_.leakProtection;
  facts.allowLocalNetwork = protection_.allowLocalNetwork;
  // A reconnect may have to log in again: the service stays reachable.
  if (!guard_->HasServiceHosts() && main_) guard_->SetServiceHosts(ResolveServiceHosts(main_->LoginBaseUrl()));
  facts.serviceHosts = guard_->ServiceHosts();
  const std::wstring line = guard_->Update(facts);
  if (line.empty()) return;
  if (guard_->Failed()) {
    ShowBox(line, BoxIcon::Warning);
  } else {
    PrintLine(line);
  }
}

void CTerminalClient::GuardPhase() {
  const int phase = connect_->Phase();
  if (phase == kPhaseConnected) {
    GuardTraffic(FirewallPhase::Connected, nullptr);
  } else if (phase == kPhaseReconnecting || (phase == kPhaseConnecting && wasConnected_)) {
    GuardTraffic(FirewallPhase::Reconnecting, nullptr);
  } else if (phase == kPhaseConnecting) {
    GuardTraffic(FirewallPhase::Connecting, nullptr);
  } else if (phase == kPhaseIdle) {
    // A tunnel that was up and went without the user asking stays blocked
    // (fail closed); one that never came up had nothing to protect.
    const bool dropped = wasConnected_ && !stopRequested_ && !idleOnRequest_;
    GuardTraffic(dropped ? FirewallPhase::Dropped : FirewallPhase::UserDisconnected, nullptr);
  }
}

void CTerminalClient::AfterEvent() {
  if (!connectStarted || windowGone_) return;
  GuardPhase();
  const int phase = connect_->Phase();
  CGeneralVpn* vpn = connect_->Connection();
  if (phase == kPhaseReconnecting && !reconnecting_) {
    reconnecting_ = true;
    dropNoticed_ = Clock::now();
    PrintLine(L"connection lost: reconnecting");
  }
  if (phase == kPhaseConnected && reconnecting_) {
    reconnecting_ = false;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - dropNoticed_).count();
    PrintLine(L"reconnected: server " + std::to_wstring(connect_->Server().id) + L", local address " +
              (vpn ? OneLine(vpn->GetLocalIp()) : std::wstring()) + L" (" + std::to_wstring(ms) +
              L" ms after the drop)");
  }
  if (phase != kPhaseReconnecting && phase != kPhaseConnected) reconnecting_ = false;
  if (phase == kPhaseConnected && !wasConnected_) {
    wasConnected_ = true;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - connectStarted_).count();
    PrintLine(L"connected: " + (vpn ? OneLine(vpn->GetTypeName()) + L", local address " + OneLine(vpn->GetLocalIp())
                                    : std::wstring()) +
              L" (" + std::to_wstring(ms) + L" ms)");
  }
  if (phase == kPhaseIdle && !stopRequested_) {
    // The flow ended by itself: all types failed, or the tunnel dropped.
    exitCode_ = wasConnected_ ? kCliExitDropped : kCliExitConnectFailed;
    PrintLine(wasConnected_ ? L"connection lost" : L"could not connect");
    connect_->ExitClient();
  }
}

bool CTerminalClient::ReplayJournal(std::wstring& dataFolder) {
  dataFolder = ProgramDataFolder();
  if (dataFolder.empty()) {
    ShowBox(L"no program data folder can be used", BoxIcon::Error);
    return false;
  }
  routing_ = std::make_unique<CAppRouting>(CreateLinuxForwardTable("/run"), dataFolder);
  // Before any route is added: what a killed run left in the table goes.
  const RouteJournalReplay replay = routing_->ReplayAtStart();
  if (replay.deleted || replay.missing || replay.failed || replay.uncertain)
    PrintLine(L"route journal: " + std::to_wstring(replay.deleted) + L" routes of an earlier run deleted, " +
              std::to_wstring(replay.missing) + L" already gone, " + std::to_wstring(replay.failed) +
              L" could not be deleted, " + std::to_wstring(replay.uncertain) + L" uncertain kept");
  EndLeftover();
  guard_ = std::make_unique<CLeakGuard>(CreateSystemFirewall());
  if (const std::wstring line = guard_->ClearLeftover(); !line.empty()) PrintLine(line);
  return true;
}

void CTerminalClient::EndLeftover() {
  const LeftoverReport leftover = EndLeftoverOpenVpn(WideToNarrow(ProgramFolder() + L"openvpn/ca.crt"), kLeftoverWaitMs);
  for (pid_t pid : leftover.ended) PrintLine(L"ended the openvpn of an earlier run (" + std::to_wstring(pid) + L")");
  for (pid_t pid : leftover.stillRunning)
    ShowBox(L"the openvpn of an earlier run (" + std::to_wstring(pid) + L") did not end", BoxIcon::Warning);
}

std::wstring CTerminalClient::ProgramFolder() const {
  std::wstring folder = options_.programFolder.empty() ? ModuleFolder() : options_.programFolder;
  if (!folder.empty() && folder.back() != L'/') folder += L'/';
  return folder;
}

int CTerminalClient::RestoreRoutes() {
  std::wstring dataFolder;
  return ReplayJournal(dataFolder) ? kCliExitOk : kCliExitLoginFailed;
}

bool CTerminalClient::OpenControllers(const std::wstring& dataFolder) {
  const std::wstring folder = ProgramFolder();
  if (!routing_) routing_ = std::make_unique<CAppRouting>(CreateLinuxForwardTable("/run"), dataFolder);
  system_ = std::make_unique<CLinuxConnectSystem>(OverrideFilePath(), folder);
  factory_ = std::make_unique<CLinuxConnectionFactory>(routing_->Table(), folder);
  version_ = std::make_unique<CBuiltInVersion>();

  MainControllerPlaces places;
  places.programDataFolder = dataFolder;
  places.announcementsPath = dataFolder + L"QuillnetAnns.ini";
  places.update = {ModuleFolder() + L"quillnet", ModuleFolder(), dataFolder + L"QuillnetInstaller.exe",
                   dataFolder + L"quillnet.new", OverrideFilePath()};
  std::unique_ptr<IMachineInfoSource> machine = MakePlatformMachineInfoSource();
  main_ = std::make_unique<CMainController>(&queue_, *this, *version_, places,
                                            ComputeMachineIdentities(*machine, 0, 0));
  main_->SetClock(&SecondsNow);
  connect_ = std::make_unique<CConnectController>(queue_, *this, *factory_, *system_, SystemClock());
  nextMonitor_ = Clock::now() + kMonitorPeriod;
  main_->Open();
  return WaitForLoginHost();
}

bool CTerminalClient::WaitForLoginHost() {
  // As long as the window's Connect waits for the race, and with its words.
  const auto until = Clock::now() + std::chrono::milliseconds(kConnectWaitMs);
  while (main_->LoginBaseUrl().empty() && !stopRequested_ && Clock::now() < until) PumpOnce(200);
  if (stopRequested_) return false;
  if (main_->LoginBaseUrl().empty()) {
    ShowBox(GetText("CanNotFindFastestServer"), BoxIcon::Error);
    return false;
  }
  // The first-connect tip explains a window this client does not have.
  SetSettingInt(L"Main", L"Tip_HideAfterConnection", 1);
  return true;
}

int CTerminalClient::Login() {
  const std::wstring dataFolder = ProgramDataFolder();
  if (dataFolder.empty()) {
    ShowBox(L"no program data folder can be used", BoxIcon::Error);
    return kCliExitLoginFailed;
  }
  if (!OpenControllers(dataFolder)) return stopRequested_ ? kCliExitOk : kCliExitLoginFailed;
  // The chooser lists and connects nothing.
  main_->OnConnect();
  return listed_ || stopRequested_ ? kCliExitOk : kCliExitLoginFailed;
}

int CTerminalClient::Run() {
  std::wstring dataFolder;
  if (!ReplayJournal(dataFolder)) return kCliExitLoginFailed;
  if (!OpenControllers(dataFolder)) return stopRequested_ ? kCliExitOk : kCliExitLoginFailed;
  ResolveProtection();
  main_->OnConnect();
  if (!connectStarted) return stopRequested_ ? kCliExitOk : kCliExitLoginFailed;
  AfterEvent();
  while (!windowGone_) {
    PumpOnce(1000);
    AfterEvent();
  }
  // The last connection is deleted only after openvpn had its time to end.
  connect_.reset();
  if (guard_ && guard_->Phase() == FirewallPhase::Dropped) {
    PrintLine(L"leak protection: traffic stays blocked until the next connect or 'quillnet restore-routes'");
  } else if (guard_) {
    if (const std::wstring line = guard_->Lift(); !line.empty()) PrintLine(line);
  }
  PrintLine(L"disconnected");
  return exitCode_;
}
