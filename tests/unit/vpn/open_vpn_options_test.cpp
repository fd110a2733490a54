#include "vpn/open_vpn_options.h"

#include <gtest/gtest.h>

#include "fakes/fake_forward_table.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"

namespace {

TEST(OpenVpnServerHost, OnlyAddressesAndHostNames) {
  struct Case {
    const wchar_t* host;
    bool accepted;
  } cases[] = {
      {L"203.0.113.7", true},
      {L"vpn-3.example.com", true},
      {L"VPN.Example", true},
      {L"", false},
      {L"vpn.example --up /bin/sh", false},
      {L"vpn.example\t--log", false},
      {L"\"vpn.example\"", false},
      {L"'vpn'", false},
      {L"-vpn.example", false},
      {L"--script-security", false},
      {L"vpn.example;reboot", false},
      {L"vpn\\example", false},
      {L"v\u00e9pn.example", false},
      {L"vpn.example\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAcceptableServerHost(c.host), c.accepted) << c.host;
  EXPECT_TRUE(IsAcceptableServerHost(std::wstring(253, L'a')));
  EXPECT_FALSE(IsAcceptableServerHost(std::wstring(254, L'a')));
  for (const wchar_t* port : {L"", L"1", L"1194", L"65535"}) EXPECT_TRUE(IsAcceptablePort(port)) << port;
  for (const wchar_t* port : {L"0", L"65536", L"99999999", L"1194 --up x", L"-1", L"0x50", L" 443"})
    EXPECT_FALSE(IsAcceptablePort(port)) << port;
}

// Each family a forged reply could use to run something, write files or
// take the client over; the token named is the first one refused.
TEST(OpenVpnExtraOptions, RefusedFamilies) {
  struct Case {
    const char* family;
    const wchar_t* options;
    const wchar_t* refused;
  } cases[] = {
      {"runs a program", L"--script-security 2 --up /tmp/x", L"--script-security"},
      {"runs a program", L"--up /bin/sh", L"--up"},
      {"runs a program", L"--route-up /bin/sh", L"--route-up"},
      {"runs a program", L"--tls-verify /bin/sh", L"--tls-verify"},
      {"runs a program", L"--ipchange /bin/sh", L"--ipchange"},
      {"runs a program", L"--setenv PATH /tmp", L"--setenv"},
      {"loads a plugin", L"--plugin /tmp/evil.so", L"--plugin"},
      {"names a file", L"--log /etc/passwd", L"--log"},
      {"names a file", L"--log-append /etc/passwd", L"--log-append"},
      {"names a file", L"--writepid /etc/shadow", L"--writepid"},
      {"names a file", L"--config /tmp/x.conf", L"--config"},
      {"names a file", L"--ca /tmp/their-ca.crt", L"--ca"},
      {"names a file", L"--auth-user-pass /etc/shadow", L"--auth-user-pass"},
      {"names a directory", L"--cd /tmp", L"--cd"},
      {"names a directory", L"--tmp-dir /tmp", L"--tmp-dir"},
      {"management channel", L"--management 0.0.0.0 7505", L"--management"},
      {"status channel", L"--status /tmp/s 1", L"--status"},
      {"daemonises", L"--daemon", L"--daemon"},
      {"daemonises", L"--syslog", L"--syslog"},
      {"changes user", L"--user nobody", L"--user"},
      {"changes group", L"--group nogroup", L"--group"},
      {"changes root", L"--chroot /tmp", L"--chroot"},
      {"changes routes", L"--redirect-gateway def1", L"--redirect-gateway"},
      {"changes routes", L"--route 0.0.0.0 0.0.0.0", L"--route"},
      {"changes the endpoint", L"--remote 198.51.100.1 443", L"--remote"},
      {"changes the exit channel", L"--service OTHER_EVENT", L"--service"},
      {"unknown option", L"--no-such-option", L"--no-such-option"},
      {"not an option", L"--verb 3 up", L"up"},
      {"a parameter too many", L"--ping 10 20", L"20"},
      {"a parameter that is a path", L"--cipher /etc/passwd", L"/etc/passwd"},
      {"a missing parameter", L"--keepalive 10", L"--keepalive"},
      {"a quote", L"--verb \"3\"", L"\"3\""},
      {"a backslash", L"--cipher AES\\\" --up", L"AES\\\""},
      {"a single dash", L"-up x", L"-up"},
      {"comma-joined", L"--comp-lzo,--up", L"--up"},
      {"comma-joined parameter", L"--tun-mtu,1500,--up,/bin/sh", L"--up"},
      {"Windows option, a path", L"--route-method /bin/sh", L"/bin/sh"},
      {"Windows option, unknown word", L"--ip-win32 exe", L"exe"},
      {"Windows option, a parameter too many", L"--ip-win32 dynamic 0 3600 9", L"9"},
      {"Windows option, missing parameter", L"--tap-sleep", L"--tap-sleep"},
      {"Windows option, a parameter it has not", L"--block-outside-dns yes", L"yes"},
      {"Windows-like option that runs a program", L"--win-sys /tmp", L"--win-sys"},
      {"a control byte", L"--verb\x01 3", L"--verb?"},
      {"legit then forged", L"--cipher AES-256-CBC --auth SHA1 --up /x", L"--up"},
  };
  for (const Case& c : cases) {
    const OpenVpnOptionsCheck check = CheckOpenVpnExtraOptions(c.options);
    EXPECT_FALSE(check.accepted) << c.family << ": " << c.options;
    EXPECT_EQ(check.refused, c.refused) << c.family << ": " << c.options;
  }
  // What a message shows of a long forged token is bounded and printable.
  const OpenVpnOptionsCheck longOne = CheckOpenVpnExtraOptions(L"--" + std::wstring(5000, L'x'));
  EXPECT_FALSE(longOne.accepted);
  EXPECT_EQ(longOne.refused.size(), 67u);
}

// What openvpn gets: every option a separate argument, and the Windows
// tunnel options only where openvpn knows them.
TEST(OpenVpnExtraOptions, CommandLineForEachPlatform) {
  struct Case {
    const wchar_t* options;
    const wchar_t* onWindows;
    const wchar_t* elsewhere;
  } cases[] = {
      {L"--comp-lzo,--tun-mtu 1500", L"--comp-lzo --tun-mtu 1500", L"--comp-lzo --tun-mtu 1500"},
      {L" ,--comp-lzo,, --tun-mtu\t1500 ,", L"--comp-lzo --tun-mtu 1500", L"--comp-lzo --tun-mtu 1500"},
      {L"--route-method exe,--ip-win32 dynamic 0 3600,--tap-sleep 5,--dhcp-renew,--dhcp-release,"
       L"--register-dns,--block-outside-dns,--comp-lzo",
       L"--route-method exe --ip-win32 dynamic 0 3600 --tap-sleep 5 --dhcp-renew --dhcp-release --register-dns "
       L"--block-outside-dns --comp-lzo",
       L"--comp-lzo"},
      {L"--ip-win32 netsh --verb 4 --route-method adaptive", L"--ip-win32 netsh --verb 4 --route-method adaptive",
       L"--verb 4"},
      {L"", L"", L""},
      {L" , ", L"", L""},
      {L"--comp-lzo --up /bin/sh", L"", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckOpenVpnExtraOptions(c.options, true).commandLine, c.onWindows) << c.options;
    EXPECT_EQ(CheckOpenVpnExtraOptions(c.options, false).commandLine, c.elsewhere) << c.options;
  }
}

TEST(OpenVpnExtraOptions, WhatRealServicesSendPasses) {
  for (const wchar_t* options : {
           L"",
           L"  ",
           L"--comp-lzo",
           L"--comp-lzo adaptive --tun-mtu 1500 --mssfix 1300",
           L"--cipher AES-256-CBC --auth SHA1 --keepalive 10 60 --reneg-sec 0",
           L"--data-ciphers AES-256-GCM:AES-128-GCM:CHACHA20-POLY1305 --data-ciphers-fallback AES-256-CBC",
           L"--remote-cert-tls server --verify-x509-name CN=vpn.example name",
           L"--ns-cert-type server --remote-cert-ku a0 88",
           L"--fragment 1300 --mssfix --ping 10 --ping-restart 60 --resolv-retry infinite",
           L"--persist-key --persist-tun --float --mute-replay-warnings --verb 4 --mute 20",
           L"--tls-version-min 1.2 or-highest --hand-window 30 --explicit-exit-notify 2",
           L"--compress lz4-v2 --allow-compression asym\t--auth-nocache",
           L"--comp-lzo,--tun-mtu 1500",
           L"--route-method exe --ip-win32 dynamic 0 3600 --tap-sleep 3 --dhcp-renew --dhcp-release",
           L"--register-dns,--block-outside-dns,--ip-win32 adaptive",
       }) {
    const OpenVpnOptionsCheck check = CheckOpenVpnExtraOptions(options);
    EXPECT_TRUE(check.accepted) << options << " refused " << check.refused;
  }
}

// A refused setting means nothing starts; the report names it.
TEST(OpenVpnStartRefuses, ForgedRepliesStartNothing) {
  LoadTextTable();
  struct Case {
    const wchar_t* host;
    const wchar_t* params;
    std::int32_t proxyType;
    const wchar_t* proxy;
    const wchar_t* named;
  } cases[] = {
      {L"10.99.0.1 --up /bin/sh", L"udp,1194", 0, L"", L"server address \"10.99.0.1 --up /bin/sh\""},
      {L"\"10.99.0.1\"", L"udp,1194", 0, L"", L"server address \"\"10.99.0.1\"\""},
      {L"10.99.0.1", L"udp,1194 --daemon", 0, L"", L"port \"1194 --daemon\""},
      {L"10.99.0.1", L"udp,1194,--script-security 2 --up /bin/touch", 0, L"", L"--script-security"},
      {L"10.99.0.1", L"tcp,443,--log /etc/passwd", 0, L"", L"--log"},
      {L"10.99.0.1", L"tcp,443", 1, L"proxy --up x", L"proxy address \"proxy --up x\""},
  };
  for (const Case& c : cases) {
    CFakeForwardTable table;
    SetUpHomeNetwork(table);
    COpenVpn vpn(table);
    vpn.openVpnDirectory = L"/nonexistent/";
    vpn.systemOpenVpnProgram = L"/nonexistent/openvpn";
    vpn.SetServerHost(c.host);
    vpn.openVpnParams = c.params;
    vpn.SetProxy(c.proxyType, c.proxy, 8080, nullptr, nullptr);
    EXPECT_EQ(vpn.Start(), OPEN_VPN_ERROR_REFUSED_SETTING) << c.named;
    EXPECT_FALSE(vpn.IsRunning());
    EXPECT_EQ(vpn.GetStatus(), (VpnStatus{GENERAL_VPN_STATE_PREPARE, OPEN_VPN_ERROR_REFUSED_SETTING, 0}));
    EXPECT_EQ(vpn.GetErrorText(vpn.GetError()),
              std::wstring(L"The server's OpenVPN settings were refused, and OpenVPN was not started: ") + c.named);
    EXPECT_NE(vpn.GetReport().find(c.named), std::wstring::npos);
  }
}

}  // namespace
