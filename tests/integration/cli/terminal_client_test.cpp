// quillnet end to end: the reference account service on loopback and a real
// openvpn server, both inside namespaces the test makes, the client as a
// child process in each route mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

#include "cli/cli_options.h"
#include "cli/leftover_openvpn.h"
#include "cli/run_program.h"
#include "fakes/temp_dir.h"
#include "integration/cli/cli_bed.h"
#include "integration/cli/quillnet_process.h"
#include "platform/strings.h"

namespace {

namespace fs = std::filesystem;

const char* const kConfig = R"(
[VPN]
RequiredClientVersion=2.3.0.2
[Account alice]
Password=secret
Expires=2099-01-01
[Servers]
ServerId0=4
Title0=Dial-up only
ServerHost0=10.99.0.1
Protocols0=pptp,l2tp
Categories0=usa
ServerId1=7
Title1=Bed
ServerHost1=10.99.0.1
Protocols1=openvpn,pptp
OpenVpn1=udp,1194
Categories1=usa
ServerId2=9
Title2=On no tab
ServerHost2=10.99.0.1
Protocols2=openvpn
OpenVpn2=udp,1194
Categories2=mars
[Routes]
Title0=Listed
RouteId0=r1
ModifyDefaultGateway0=0
[RouteList Routes r1]
Route0=192.0.2.0/24
Route1=198.51.100.0 mask 255.255.255.0
)";

struct ModeCase {
  const char* route;
  // Lines of `ip route` (main table) that must be there while connected.
  std::vector<std::string> present;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool HasRouteStartingWith(const std::string& routes, const std::string& prefix) {
  for (const std::string& line : Lines(routes))
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

class TerminalClient : public ::testing::TestWithParam<ModeCase> {
 protected:
  void SetUp() override {
    if (const std::string missing = OpenVpnBedMissing(); !missing.empty()) GTEST_SKIP() << missing;
    ASSERT_TRUE(cli_.Start(kConfig));
  }
  void TearDown() override { cli_.Close(); }

  std::vector<std::string> Arguments(const std::string& route, const std::string& password = "password") const {
    return cli_.ConnectArguments(route, password);
  }
  std::vector<std::string> RestoreArguments() const {
    const std::string d = cli_.Dir().string();
    return {"restore-routes", "--config", d + "/config", "--data", d + "/data", "--program-folder", d + "/program"};
  }

  CCliBed cli_;
};

// The client's own routes: the ones it adds carry metric 1 and proto static.
int OwnRoutes(const std::string& routes) {
  int n = 0;
  for (const std::string& line : Lines(routes)) n += line.find("proto static metric 1") != std::string::npos;
  return n;
}

TEST_P(TerminalClient, ConnectsRoutesAndRestoresOnSigtermAndAfterSigkill) {
  const ModeCase& c = GetParam();
  const std::string before = cli_.Ns().RouteDump();
  {
    CQuillnetProcess client(Arguments(c.route));
    ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
    const std::string routes = cli_.Ns().MainRoutes();
    for (const std::string& prefix : c.present) EXPECT_TRUE(HasRouteStartingWith(routes, prefix)) << prefix << "\n" << routes;
    EXPECT_NE(client.Output().find("PPTP: not available on Linux, skipped"), std::string::npos) << client.Output();
    EXPECT_EQ(client.Output().find("secret"), std::string::npos);
    client.Signal(SIGTERM);
    EXPECT_EQ(client.Wait(), 0) << client.Output();
    EXPECT_NE(client.Output().find("disconnected"), std::string::npos) << client.Output();
  }
  EXPECT_EQ(cli_.Ns().RouteDump(), before);

  // Killed while connected, with its openvpn held so the tunnel device and
  // the routes through it outlive the client as they would on a crash.
  pid_t openVpn = -1;
  int own = 0;
  std::unique_ptr<CFrozenProcess> frozen;
  {
    CQuillnetProcess client(Arguments(c.route));
    ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
    own = OwnRoutes(cli_.Ns().MainRoutes());
    const std::vector<pid_t> children = ChildProcesses(client.Pid());
    ASSERT_EQ(children.size(), 1u);
    openVpn = children[0];
    frozen = std::make_unique<CFrozenProcess>(openVpn);
    ASSERT_TRUE(frozen->Frozen());
    client.Signal(SIGKILL);
    EXPECT_EQ(client.Wait(), 128 + SIGKILL);
  }
  EXPECT_EQ(OwnRoutes(cli_.Ns().MainRoutes()), own);
  // The next start replays the journal while the tunnel device still
  // exists, then asks the leftover openvpn to end, which it can once thawed.
  CQuillnetProcess restore(RestoreArguments());
  if (own > 0) {
    EXPECT_TRUE(restore.WaitForOutput("route journal: " + std::to_string(own) + " routes of an earlier run deleted"))
        << restore.Output();
  }
  EXPECT_EQ(OwnRoutes(cli_.Ns().MainRoutes()), 0) << cli_.Ns().MainRoutes();
  frozen.reset();
  EXPECT_EQ(restore.Wait(), 0) << restore.Output();
  EXPECT_NE(restore.Output().find("ended the openvpn of an earlier run (" + std::to_string(openVpn) + ")"),
            std::string::npos)
      << restore.Output();
  // The orphan's routes go as it exits; reaping may come later.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (cli_.Ns().RouteDump() != before && std::chrono::steady_clock::now() < until) usleep(50000);
  EXPECT_EQ(cli_.Ns().RouteDump(), before);
  kill(openVpn, SIGKILL);  // gone already, unless it hung
}

INSTANTIATE_TEST_SUITE_P(RouteModes, TerminalClient,
                         ::testing::Values(ModeCase{"all", {"0.0.0.0/1 ", "128.0.0.0/1 ", "10.99.0.1 "}},
                                           ModeCase{"listed:0", {"192.0.2.0/24 ", "198.51.100.0/24 "}},
                                           ModeCase{"app", {}}),
                         [](const auto& info) {
                           std::string name = info.param.route;
                           return name.substr(0, name.find(':'));
                         });


// What the run itself does apart from the route modes: the service's
// answers and the tunnel's end, each seen through the exit code, the
// output and the table.
struct RunCase {
  const char* name;
  const char* password;      // file under the test folder
  bool killServerConnected;  // the openvpn server dies mid-tunnel
  int exitCode;
  const char* output;
};

class TerminalClientRun : public TerminalClient {};

TEST_F(TerminalClientRun, EndsAsTheServiceAndTheTunnelSay) {
  std::ofstream(cli_.Dir() / "wrong") << "not it\n";
  const RunCase cases[] = {
      {"wrong password", "wrong", false, kCliExitLoginFailed, "status: Login error occured"},
      {"server killed", "password", true, kCliExitDropped, "connection lost"},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string before = cli_.Ns().RouteDump();
    std::vector<std::string> arguments = Arguments("listed:0", c.password);
    // The drop as it was before reconnecting: the run ends with it.
    arguments.insert(arguments.end(), {"--reconnect", "off"});
    CQuillnetProcess client(arguments);
    if (c.killServerConnected) {
      ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();
      cli_.Bed().KillServer();
    }
    EXPECT_EQ(client.Wait(std::chrono::seconds(90)), c.exitCode) << client.Output();
    EXPECT_NE(client.Output().find(c.output), std::string::npos) << client.Output();
    EXPECT_EQ(cli_.Ns().RouteDump(), before);
  }
}

// An openvpn beside the client that someone besides root could have
// changed is never run as root: the connect fails saying why, and neither
// the program nor the routing table is touched.
TEST_F(TerminalClientRun, AnOpenVpnOthersCouldChangeIsNotRun) {
  struct Case {
    const char* name;
    fs::perms mode;
    uid_t owner;
    const char* reason;
  };
  const Case cases[] = {
      {"group-writable", fs::perms(0775), 0, "may be changed by other users"},
      {"writable by everybody", fs::perms(0757), 0, "may be changed by other users"},
      {"owned by another user", fs::perms(0755), 4242, "is not owned by root"},
  };
  const fs::path program = cli_.Dir() / "program" / "openvpn" / "openvpn";
  const fs::path ran = cli_.Dir() / "openvpn-ran";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Whatever this program is asked, it leaves a mark that it ran.
    std::ofstream(program) << "#!/bin/sh\ntouch '" << ran.string() << "'\nexec sleep 30\n";
    fs::permissions(program, c.mode);
    ASSERT_EQ(::chown(program.c_str(), c.owner, 0), 0);
    const std::string before = cli_.Ns().RouteDump();
    CQuillnetProcess client(Arguments("all"));
    EXPECT_EQ(client.Wait(std::chrono::seconds(90)), kCliExitConnectFailed) << client.Output();
    EXPECT_NE(client.Output().find("OpenVPN was not started"), std::string::npos) << client.Output();
    EXPECT_NE(client.Output().find(c.reason), std::string::npos) << client.Output();
    EXPECT_FALSE(fs::exists(ran)) << "the refused program ran";
    EXPECT_EQ(cli_.Ns().RouteDump(), before);
    struct stat info {};
    ASSERT_EQ(::stat(program.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, static_cast<unsigned>(c.mode)) << "the client changed the program's mode";
  }
}

// What the client says when it cannot go on, without any tunnel: no service
// in the race (after the window's wait, with its words), and a service that
// wants a newer client (which nobody cancelled).
TEST(TerminalClientWords, WhenItCannotGoOn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace of its own";
  CTestNamespace ns;
  ASSERT_TRUE(ns.Ok());
  ASSERT_EQ(ns.Ip("link set lo up"), 0);
  CTempDir dir;
  const std::string d = dir.Path().string();
  std::ofstream(dir.Path() / "password") << "secret\n";
  std::string outdatedConfig = kConfig;
  const std::string current = "RequiredClientVersion=2.3.0.2";
  outdatedConfig.replace(outdatedConfig.find(current), current.size(),
                         "RequiredClientVersion=99.0.0.0\nDownloadGreen=http://127.0.0.1:9/quillnet");
  CServiceProcess outdated("HttpsPort=443", outdatedConfig);
  ASSERT_TRUE(outdated.Ready());
  std::string outdatedBase;
  for (wchar_t c : outdated.HttpBase()) outdatedBase += static_cast<char>(c);
  struct Case {
    const char* name;
    std::string service;
    const char* said;
    const char* neverSaid;
  } cases[] = {
      {"no service answers", "http://127.0.0.1:9/", "Failed to detect your IP address", "no account service answered"},
      {"outdated client", outdatedBase, "older than the service requires", "You have cancelled the update"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CQuillnetProcess client({"login", "--service", c.service, "--ca-file", TestPkiFile("ca.pem"), "--account",
                             "alice", "--password-file", d + "/password", "--config", d + "/config", "--data", d + "/data", "--program-folder",
                             d + "/program"});
    EXPECT_NE(client.Wait(), 0) << client.Output();
    EXPECT_NE(client.Output().find(c.said), std::string::npos) << client.Output();
    EXPECT_EQ(client.Output().find(c.neverSaid), std::string::npos) << client.Output();
  }
}

// Routes through a tunnel device go with the device, a moment after its
// openvpn ended.
std::string SettledDump(const CTestNamespace& ns, const std::string& expected) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (ns.RouteDump() != expected && std::chrono::steady_clock::now() < until) usleep(50000);
  return ns.RouteDump();
}

// The commands around one connection: login lists without touching the
// table, a second client on the same data folder is refused, SIGUSR1 parks
// and resumes the connection, disconnect ends the client, and a connect
// without a route takes the last one.
TEST_F(TerminalClientRun, LoginListsAndOneClientRunsPerDataFolder) {
  const std::string before = cli_.Ns().RouteDump();
  const std::string d = cli_.Dir().string();
  {
    std::vector<std::string> login = Arguments("listed:0");
    login[0] = "login";
    CQuillnetProcess client(login);
    EXPECT_EQ(client.Wait(), 0) << client.Output();
    for (const char* line : {"route listed:0: Listed", "route all: ", "route app: ", "server 7: Bed 10.99.0.1 icmp ",
                             "server 4: Dial-up only 10.99.0.1 icmp ", "(no OpenVPN: not available on Linux)"})
      EXPECT_NE(client.Output().find(line), std::string::npos) << line << "\n" << client.Output();
    EXPECT_EQ(client.Output().find("connected: "), std::string::npos) << client.Output();
    EXPECT_EQ(client.Output().find("server 9: "), std::string::npos) << "the chooser shows it on no tab\n"
                                                                    << client.Output();
    EXPECT_EQ(cli_.Ns().RouteDump(), before);
  }

  CQuillnetProcess first(Arguments("listed:0"));
  ASSERT_TRUE(first.WaitForOutput("connected: ")) << first.Output();
  const std::string connected = cli_.Ns().RouteDump();
  {
    CQuillnetProcess second(Arguments("all"));
    EXPECT_EQ(second.Wait(), kCliExitBusy) << second.Output();
    EXPECT_NE(second.Output().find("already running on this data folder (" + std::to_string(first.Pid()) + ")"),
              std::string::npos)
        << second.Output();
    CQuillnetProcess restore(RestoreArguments());
    EXPECT_EQ(restore.Wait(), kCliExitBusy) << restore.Output();
  }
  EXPECT_EQ(cli_.Ns().RouteDump(), connected) << "a refused start leaves the running client's routes alone";

  first.Signal(SIGUSR1);
  ASSERT_TRUE(first.WaitForOutput("idle: disconnected")) << first.Output();
  EXPECT_EQ(SettledDump(cli_.Ns(), before), before);
  first.Signal(SIGUSR1);
  ASSERT_TRUE(first.WaitForCount("connected: ", 2)) << first.Output();
  EXPECT_TRUE(HasRouteStartingWith(cli_.Ns().MainRoutes(), "192.0.2.0/24 ")) << cli_.Ns().MainRoutes();

  CQuillnetProcess disconnect({"disconnect", "--config", d + "/config", "--data", d + "/data"});
  EXPECT_EQ(disconnect.Wait(), 0) << disconnect.Output();
  EXPECT_NE(disconnect.Output().find("disconnected the client " + std::to_string(first.Pid())), std::string::npos)
      << disconnect.Output();
  EXPECT_EQ(first.Wait(), 0) << first.Output();
  EXPECT_EQ(SettledDump(cli_.Ns(), before), before);
  CQuillnetProcess none({"disconnect", "--data", d + "/data"});
  EXPECT_EQ(none.Wait(), kCliExitNotRunning) << none.Output();

  std::vector<std::string> remembered = Arguments("all");
  const auto route = std::find(remembered.begin(), remembered.end(), "--route");
  remembered.erase(route, route + 2);
  CQuillnetProcess last(remembered);
  ASSERT_TRUE(last.WaitForOutput("connected: ")) << last.Output();
  EXPECT_NE(last.Output().find("route: Listed"), std::string::npos) << last.Output();
  last.Signal(SIGTERM);
  EXPECT_EQ(last.Wait(), 0) << last.Output();
  EXPECT_EQ(SettledDump(cli_.Ns(), before), before);
}

// Per application: a program started by `quillnet run` gets its host route
// through the tunnel; the same module in a program that is not activated
// asks for nothing.
TEST_F(TerminalClientRun, PerApplicationRoutesOnlyWhatRunStarts) {
  const std::string before = cli_.Ns().RouteDump();
  const std::string d = cli_.Dir().string();
  CQuillnetProcess client(Arguments("app"));
  ASSERT_TRUE(client.WaitForOutput("connected: ")) << client.Output();

  const fs::path other = cli_.Dir() / "other_probe";
  fs::copy_file(QUILLNET_BIND_PROBE, other);
  const std::string plain = ShellOutput(std::string("env LD_PRELOAD=") + QUILLNET_BIND_LIBRARY +
                                        " QUILLNET_BIND_LIST=" + d + "/data/applist.ini " + other.string() +
                                        " udp 198.51.100.8 7001 2>&1");
  EXPECT_FALSE(HasRouteStartingWith(cli_.Ns().MainRoutes(), "198.51.100.8 ")) << plain << cli_.Ns().MainRoutes();

  CQuillnetProcess run({"run", "--config", d + "/config", "--data", d + "/data", QUILLNET_BIND_PROBE, "udp",
                        "198.51.100.7", "7001"});
  run.Wait();
  EXPECT_NE(run.Output().find(std::string("starting ") + fs::canonical(QUILLNET_BIND_PROBE).string() + ", activated"),
            std::string::npos)
      << run.Output();
  EXPECT_TRUE(HasRouteStartingWith(cli_.Ns().MainRoutes(), "198.51.100.7 ")) << run.Output() << cli_.Ns().MainRoutes();
  EXPECT_FALSE(HasRouteStartingWith(cli_.Ns().MainRoutes(), "198.51.100.8 ")) << cli_.Ns().MainRoutes();

  CQuillnetProcess missing({"run", "--data", d + "/data", "no-such-program-here"});
  EXPECT_EQ(missing.Wait(), kCliExitCannotRun) << missing.Output();

  client.Signal(SIGTERM);
  EXPECT_EQ(client.Wait(), 0) << client.Output();
  EXPECT_EQ(SettledDump(cli_.Ns(), before), before);
}

struct OptionsCase {
  std::vector<std::string> arguments;
  bool ok;
  const char* error;  // part of the message when refused
  std::int32_t routeDefiner, routeIndex, vpnType;
  CliServerPick server;
};

TEST(CliOptions, ParsesOrRefusesWithTheReason) {
  const std::vector<std::string> base = {"connect", "--account", "a", "--password-file", "-", "--service",
                                         "http://127.0.0.1:1/"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = base;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const OptionsCase cases[] = {
      {with({}), true, "", 1, 0, 0, CliServerPick::First},
      {with({"--route", "custom:2", "--type", "openvpn", "--server", "fastest"}), true, "", 1002, 2, 3,
       CliServerPick::Fastest},
      {with({"--route", "app", "--server", "17"}), true, "", 2, 0, 0, CliServerPick::ById},
      {with({"--type", "pptp"}), false, "not available on Linux", 0, 0, 0, CliServerPick::First},
      {with({"--type", "l2tp"}), false, "not available on Linux", 0, 0, 0, CliServerPick::First},
      {with({"--route", "all:1"}), false, "--route", 0, 0, 0, CliServerPick::First},
      {with({"--route", "listed:x"}), false, "--route", 0, 0, 0, CliServerPick::First},
      {with({"--server", "-1"}), false, "--server", 0, 0, 0, CliServerPick::First},
      {with({"--server"}), false, "needs a value", 0, 0, 0, CliServerPick::First},
      {with({"--override", "/x.ini"}), false, "one of --service and --override", 0, 0, 0, CliServerPick::First},
      {{"connect", "--account", "a", "--password-file", "-"}, false, "one of", 0, 0, 0, CliServerPick::First},
      {{"connect", "--password-file", "-", "--service", "http://h/"}, false, "--account", 0, 0, 0,
       CliServerPick::First},
      {{"connect", "--account", "a", "--service", "http://h/"}, false, "--password-file", 0, 0, 0,
       CliServerPick::First},
      {{"connect", "--account", "a", "--password-file", "-", "--service", "ftp://h/"}, false, "http://", 0, 0, 0,
       CliServerPick::First},
      {{"connect", "--account", "a", "--password-file", "-", "--service", "http://h/\n[Main]"}, false, "http://", 0,
       0, 0, CliServerPick::First},
      {{"restore-routes", "--data", "/tmp/x"}, true, "", 1, 0, 0, CliServerPick::First},
      {{"disconnect", "--data", "/tmp/x"}, true, "", 1, 0, 0, CliServerPick::First},
      {{"login", "--account", "a", "--password-file", "-", "--service", "http://h/"}, true, "", 1, 0, 0,
       CliServerPick::First},
      {{"disconnect", "--route", "all"}, false, "unknown option --route for disconnect", 0, 0, 0,
       CliServerPick::First},
      {{"disconnect", "--program-folder", "/p"}, false, "unknown option", 0, 0, 0, CliServerPick::First},
      {{"restore-routes", "--account", "a"}, false, "unknown option", 0, 0, 0, CliServerPick::First},
      {{"run"}, false, "run needs a program", 0, 0, 0, CliServerPick::First},
      {{"run", "--data"}, false, "needs a value", 0, 0, 0, CliServerPick::First},
      {{"status"}, false, "unknown command", 0, 0, 0, CliServerPick::First},
  };
  for (const OptionsCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.arguments) joined += a + " ";
    SCOPED_TRACE(joined);
    CliOptions options;
    std::string error;
    ASSERT_EQ(ParseCliOptions(c.arguments, options, error), c.ok) << error;
    if (!c.ok) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(options.routeDefiner, c.routeDefiner);
    EXPECT_EQ(options.routeIndex, c.routeIndex);
    EXPECT_EQ(options.vpnType, c.vpnType);
    EXPECT_EQ(options.server, c.server);
  }
}

TEST(CliOptions, RunTakesTheProgramAsGivenAndChoicesLeftOutAreRemembered) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> runs[] = {
      {{"run", "--data", "/d", "prog", "--route", "x"}, {"prog", "--route", "x"}},
      {{"run", "--", "--odd-name", "-v"}, {"--odd-name", "-v"}},
      {{"run", "/usr/bin/env"}, {"/usr/bin/env"}},
  };
  for (const auto& [arguments, program] : runs) {
    CliOptions options;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(arguments, options, error)) << error;
    EXPECT_EQ(options.program, program);
  }
  CliOptions options;
  std::string error;
  ASSERT_TRUE(ParseCliOptions({"connect", "--account", "a", "--password-file", "-", "--service", "http://h/",
                               "--server", "fastest"},
                              options, error));
  EXPECT_FALSE(options.routeGiven);
  EXPECT_FALSE(options.typeGiven);
  EXPECT_TRUE(options.serverGiven);
}

TEST(CliOptions, TerminalTextAndServiceAddresses) {
  EXPECT_EQ(TerminalSafe(L"ok \x1b[2Jgone\x9b\x7f\u00e9"), L"ok ?[2Jgone??\u00e9");
  const std::pair<const wchar_t*, bool> urls[] = {
      {L"http://127.0.0.1:8080/", true}, {L"https://example.test/a?b=c", true}, {L"http:///x", false},
      {L"http://", false},              {L"file:///etc/passwd", false},      {L"http://a b/", false},
      {L"http://a/\r\nx", false},
  };
  for (const auto& [url, ok] : urls) EXPECT_EQ(AcceptableServiceUrl(url), ok) << WideToNarrow(url);
}

// quillnet run names the program as the bind module will see its own image:
// absolute, links resolved, found in PATH like a shell finds it.
TEST(RunProgram, ResolvesAsTheModuleWillSeeItsImage) {
  CTempDir dir;
  const fs::path bin = dir.Path() / "bin";
  fs::create_directories(bin);
  const fs::path tool = bin / "tool";
  std::ofstream(tool) << "#!/bin/sh\n";
  fs::permissions(tool, fs::perms::owner_all);
  std::ofstream(bin / "plain") << "data";
  fs::create_symlink(tool, bin / "alias");
  const std::string real = fs::canonical(tool).string();
  const std::string path = "/nonexistent:" + bin.string();
  const std::pair<std::string, std::string> cases[] = {
      {"tool", real},
      {"alias", real},                       // the link's target, as /proc/self/exe has it
      {(bin / "alias").string(), real},      // a path is taken as given, then resolved
      {"plain", ""},                         // not executable
      {(bin / "plain").string(), ""},
      {"missing", ""},
      {bin.string(), ""},                    // a folder is no program
      {"", ""},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(ResolveProgram(name, path), expected) << name;
}

TEST(LeftoverOpenVpn, MatchesOnlyOpenVpnWithTheClientsCa) {
  CTempDir dir;
  std::filesystem::create_directories(dir.Path() / "p" / "openvpn");
  const std::string ca = (dir.Path() / "p" / "openvpn" / "ca.crt").string();
  const std::string doubled = (dir.Path() / "p" / "openvpn").string() + "//ca.crt";
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"/usr/sbin/openvpn", "--remote", "h", "--ca", doubled, "--verb", "5"}, true},
      {{"openvpn", "--ca", ca}, true},
      {{"/usr/sbin/openvpn", "--ca", "/elsewhere/ca.crt"}, false},
      {{"/usr/sbin/openvpn", "--config", "server.conf", ca}, false},
      {{"/usr/bin/sleep", "--ca", ca}, false},
      {{"/usr/sbin/openvpn", "--ca"}, false},
      {{}, false},
  };
  for (const auto& [arguments, match] : cases) EXPECT_EQ(IsOpenVpnWithCa(arguments, ca), match);
  EXPECT_EQ(SplitCmdline(std::string("a\0--ca\0b\0", 8)), (std::vector<std::string>{"a", "--ca", "b"}));
}

}  // namespace
