#include <gtest/gtest.h>

#include "app/login_controller.h"
#include "platform/strings.h"

namespace {

TEST(VpnTypeOrder, ForEachChosenTypeAndOfferedTypes) {
  using Types = std::vector<std::int32_t>;
  struct Case {
    std::int32_t chosen;
    const wchar_t* protocols;
    std::int32_t lastSuccess;
    std::int32_t vpnTypeSetting;
    Types types;
  } cases[] = {
      {0, L"pptp,l2tp,openvpn", 1, 0, {1, 2, 3}},
      {0, L"openvpn l2tp pptp", 1, 0, {1, 2, 3}},  // the fixed order, not the text's
      {0, L"pptp,l2tp,openvpn", 2, 0, {2, 1, 3}},
      {0, L"pptp,l2tp,openvpn", 3, 0, {1, 2, 3}},  // OpenVPN is preferred only when chosen before
      {0, L"pptp,l2tp,openvpn", 3, 3, {3, 1, 2}},
      {0, L"openvpn,pptp", 2, 0, {1, 3}},
      {0, L"openvpn,pptp", 3, 0, {1, 3}},
      {0, L"openvpn", 1, 0, {3}},
      {0, L"l2tp,openvpn", 1, 0, {2, 3}},
      {0, L"l2tp,openvpn", 3, 2, {3, 2}},
      {0, L"", 1, 0, {}},
      {0, L"PPTP,OpenVPN", 1, 0, {}},  // names are matched as the service writes them
      {0, L"pptp", 7, 0, {1}},
      {1, L"openvpn", 3, 0, {1}},
      {2, L"pptp,openvpn", 1, 0, {2}},  // an explicit choice is tried even if not offered
      {3, L"", 1, 0, {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.chosen) + " " + WideToUtf8(c.protocols) + " last " + std::to_string(c.lastSuccess) +
                 " setting " + std::to_string(c.vpnTypeSetting));
    EXPECT_EQ(OrderVpnTypes(c.chosen, c.protocols, c.lastSuccess, c.vpnTypeSetting), c.types);
  }
}

TEST(VpnTypeOrder, RouteModeForEachChoice) {
  EXPECT_EQ(RouteModeFor(1, 0), 1);
  EXPECT_EQ(RouteModeFor(1, 1), 1);
  EXPECT_EQ(RouteModeFor(2, 1), 3);
  EXPECT_EQ(RouteModeFor(1001, 0), 2);
  EXPECT_EQ(RouteModeFor(1001, 1), 1);
  EXPECT_EQ(RouteModeFor(1002, -5), 1);
}

}  // namespace
