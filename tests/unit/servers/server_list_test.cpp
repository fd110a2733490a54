#include "servers/server_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "account/reply_document.h"
#include "fakes/temp_dir.h"

namespace {

class ServerListFile : public ::testing::Test {
 protected:
  VpnServerMap Load(const std::string& serversSection) {
    IniForgetCache();
    const std::wstring path =
        dir_.Write(L"login.ini", "MagicTag=VpnServerResponse\r\n[VPN]\r\nAuthResult=OK\r\n[Servers]\r\n" + serversSection);
    return LoadServerList(path);
  }
  CTempDir dir_;
};

std::vector<std::int32_t> Ids(const VpnServerMap& servers) {
  std::vector<std::int32_t> ids;
  for (const auto& [id, server] : servers) ids.push_back(id);
  return ids;
}

TEST_F(ServerListFile, ReadsEveryFieldOfARecord) {
  const VpnServerMap servers = Load(
      "ServerId0=17\r\n"
      "Title0=T\xC3\xB6kyo\r\n"
      "Comment0=fast \xE2\x9C\x93\r\n"
      "ServerHost0=10.1.2.3\r\n"
      "Protocols0=\"  pptp,l2tp  \"\r\n"
      "OpenVpn0=proto udp;port 1194\r\n"
      "Load0=0.25\r\n"
      "Categories0=\" China, usa,,Asia \"\r\n"
      "PPTPUseMPPE0=0x1\r\n"
      "IPSecSharedKey0=secret key\r\n");
  ASSERT_EQ(servers.size(), 1u);
  const VpnServerInfo& s = servers.at(17);
  EXPECT_EQ(s.id, 17);
  EXPECT_EQ(s.row, -1);
  EXPECT_EQ(s.title, L"T\u00f6kyo");
  EXPECT_EQ(s.comment, L"fast \u2713");
  EXPECT_EQ(s.host, L"10.1.2.3");
  EXPECT_EQ(s.protocols, L"pptp,l2tp");
  EXPECT_EQ(s.openVpn, L"proto udp;port 1194");
  EXPECT_DOUBLE_EQ(s.load, 0.25);
  EXPECT_EQ(s.categories, (std::set<std::wstring>{L"asia", L"china", L"usa"}));
  EXPECT_EQ(s.pptpUseMppe, 1);
  EXPECT_EQ(s.ipsecSharedKey, L"secret key");
  EXPECT_EQ(s.icmpResult, kSpeedToBeTested);
  EXPECT_EQ(s.udpResult, kSpeedToBeTested);
}

TEST_F(ServerListFile, WhichIndicesAreRead) {
  struct Case {
    const char* name;
    std::string section;
    std::vector<std::int32_t> ids;
  } cases[] = {
      {"no first id", "Title0=x\r\nServerId1=5\r\n", {}},
      {"empty first id", "ServerId0=\r\nServerId1=5\r\n", {}},
      {"non-numeric first id", "ServerId0=abc\r\nServerId1=5\r\n", {}},
      {"zero first id", "ServerId0=0\r\nServerId1=5\r\n", {}},
      {"gap ends the list", "ServerId0=1\r\nServerId1=2\r\nServerId2=3\r\nServerId4=5\r\n", {1, 2, 3}},
      {"negative ids are kept", "ServerId0=-4\r\nServerId1=2\r\n", {-4, 2}},
      {"leading blanks and sign", "ServerId0=\"  +12abc\"\r\nServerId1=7.9\r\n", {7, 12}},
      {"ids saturate", "ServerId0=99999999999\r\nServerId1=-99999999999\r\n", {INT32_MIN, INT32_MAX}},
      {"hex is not read as hex", "ServerId0=0x10\r\n", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Ids(Load(c.section)), c.ids) << c.name;
}

TEST_F(ServerListFile, TheLaterOfTwoEqualIdsWins) {
  const VpnServerMap servers = Load(
      "ServerId0=3\r\nTitle0=first\r\nServerHost0=1.1.1.1\r\n"
      "ServerId1=3\r\nTitle1=second\r\n");
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers.at(3).title, L"second");
  // Nothing of the earlier record survives.
  EXPECT_EQ(servers.at(3).host, L"");
}

TEST_F(ServerListFile, MissingValuesGiveEmptyTextsAndZeros) {
  const VpnServerMap servers = Load("ServerId0=9\r\n");
  const VpnServerInfo& s = servers.at(9);
  EXPECT_EQ(s.title, L"");
  EXPECT_EQ(s.protocols, L"");
  EXPECT_EQ(s.load, 0.0);
  EXPECT_TRUE(s.categories.empty());
  EXPECT_EQ(s.pptpUseMppe, 0);
}

TEST_F(ServerListFile, MppeSwitchUsesAutomaticBase) {
  struct Case {
    std::string value;
    std::int32_t expected;
  } cases[] = {{"0x1", 1}, {"010", 8}, {"", 0}, {"7", 7}, {"1junk", 1}, {"junk", 0}, {"-2", -2}};
  for (const Case& c : cases)
    EXPECT_EQ(Load("ServerId0=1\r\nPPTPUseMPPE0=" + c.value + "\r\n").at(1).pptpUseMppe, c.expected) << c.value;
}

TEST_F(ServerListFile, ThousandsOfServers) {
  std::string section;
  for (int i = 0; i < 3000; ++i) {
    section += "ServerId" + std::to_string(i) + "=" + std::to_string(3000 - i) + "\r\n";
    section += "ServerHost" + std::to_string(i) + "=10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250) + "\r\n";
  }
  const VpnServerMap servers = Load(section);
  ASSERT_EQ(servers.size(), 3000u);
  EXPECT_EQ(servers.begin()->first, 1);
  EXPECT_EQ(servers.at(1).host, L"10.0.11.249");
}

TEST_F(ServerListFile, ReadsValuesExactlyAsTheAccessorsDo) {
  IniForgetCache();
  const std::wstring path = dir_.Write(
      L"odd.ini", std::string("MagicTag=VpnServerResponse\n"
                              "[ servers ]\n"
                              "serverid0 = 5 \n"
                              "TITLE0=\"  quoted  \"\n"
                              "Comment0=bad \xFF\xFE utf-8\n"
                              "ServerHost0=10.0.0.5\0hidden\n"
                              "PPTPUseMPPE0=\n"
                              "Protocols0='pptp'\n"
                              "Load0\n"
                              "ServerId1=6\n"
                              "PPTPUseMPPE1=0x7fffffffff\n"
                              "[Servers]\n"
                              "ServerId2=7\n",
                              200));
  const VpnServerMap servers = LoadServerList(path);
  ASSERT_EQ(Ids(servers), (std::vector<std::int32_t>{5, 6}));
  for (int i = 0; i < 2; ++i) {
    const std::wstring n = std::to_wstring(i);
    const VpnServerInfo& s = servers.at(i == 0 ? 5 : 6);
    EXPECT_EQ(s.title, IniReadText(path, L"Servers", L"Title" + n));
    EXPECT_EQ(s.comment, IniReadText(path, L"Servers", L"Comment" + n));
    EXPECT_EQ(s.host, IniReadString(path, L"Servers", L"ServerHost" + n, L""));
    EXPECT_EQ(s.protocols, IniReadString(path, L"Servers", L"Protocols" + n, L""));
    EXPECT_EQ(s.pptpUseMppe, IniReadInt(path, L"Servers", L"PPTPUseMPPE" + n, 0));
  }
  EXPECT_EQ(servers.at(5).host, L"10.0.0.5");
  EXPECT_EQ(servers.at(5).title, L"  quoted  ");
  EXPECT_EQ(servers.at(6).pptpUseMppe, INT32_MAX);
}

TEST_F(ServerListFile, MissingReplyGivesNoServers) {
  EXPECT_TRUE(LoadServerList(dir_.File(L"absent.ini")).empty());
}

TEST(ServerNumbers, DecimalFloatingPoint) {
  struct Case {
    std::wstring text;
    double expected;
  } cases[] = {
      {L"0.25", 0.25}, {L"  35", 35.0}, {L"-0.5x", -0.5}, {L"+.5", 0.5}, {L"1e-2", 0.01},
      {L"2E1z", 20.0}, {L"3e", 3.0},   {L"3e+", 3.0},    {L"", 0.0},    {L"abc", 0.0},
      {L".", 0.0},     {L"-", 0.0},    {L"1,5", 1.0},    {L"nan", 0.0}, {L"inf", 0.0},
      {L"0x10", 0.0},  {L"1e-999", 0.0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(ParseDecimalDouble(c.text), c.expected) << c.text;
  EXPECT_TRUE(std::isinf(ParseDecimalDouble(L"1e999")));
}

TEST(ServerTypes, OfferedTypesComeFromLowerCaseNames) {
  struct Case {
    std::wstring protocols;
    bool pptp, l2tp, openVpn;
  } cases[] = {
      {L"pptp,l2tp", true, true, false},
      {L"PPTP,L2TP", false, false, false},
      {L"", false, false, false},
      {L"openvpn", false, false, true},
      {L"xopenvpnx l2tpish", false, true, true},
  };
  for (const Case& c : cases) {
    VpnServerInfo s;
    s.protocols = c.protocols;
    EXPECT_TRUE(OffersVpnType(s, kVpnTypeAuto)) << c.protocols;
    EXPECT_EQ(OffersVpnType(s, kVpnTypePptp), c.pptp) << c.protocols;
    EXPECT_EQ(OffersVpnType(s, kVpnTypeL2tp), c.l2tp) << c.protocols;
    EXPECT_EQ(OffersVpnType(s, kVpnTypeOpenVpn), c.openVpn) << c.protocols;
    EXPECT_FALSE(OffersVpnType(s, 4));
    EXPECT_FALSE(OffersVpnType(s, -1));
  }
}

TEST(ServerCategories, UnionOfAllRecords) {
  VpnServerMap servers;
  servers[1].categories = {L"china"};
  servers[2].categories = {L"usa", L"mars"};
  servers[3];
  EXPECT_EQ(CollectCategories(servers), (std::set<std::wstring>{L"china", L"mars", L"usa"}));
  EXPECT_TRUE(CollectCategories({}).empty());
}

}  // namespace
