#include "text/text_table.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <set>
#include <string>
#include <string_view>

namespace {

constexpr std::wstring_view kHost = L"www.quillnet.example";

// Every key the client asks for, in fill order.
constexpr const char* kAllKeys[] = {
    "RegisterModulesSuccessfully", "RegisterModulesFailed", "UnregisterModulesSuccessfully",
    "UnregisterModulesFailed", "ParenthesisVersion", "RouteTableNotAvailable", "OK", "Cancel", "Login", "Connect",
    "Disconnect", "Username", "Password", "SavePassword", "ForgotPassword", "Ready",
    "UserRegister", "Purchase", "FreeTrial", "GuideHelp", "Help", "OnlineCustomerSupport",
    "YourIP", "UnknownClientIP", "ExpiredDate", "ExpiredDateUnknown", "ExpiredDateExpired",
    "VpnConnectedAreYouSureToExit", "CanNotFindFastestServer", "LoadingNews", "VpnAppLoginTitle",
    "VpnAppAlreadyRunUseTrayIconToActivate", "BlockedOperationIsRunning", "NoLoginHost",
    "LoadingVPNInformation", "CannotStartInternetConnection", "AcceleratedAppSetting",
    "AddAcceleratedAppFileDialogFilter", "VpnBindForceWSPBind", "VpnBindUseAsyncMode",
    "VpnBindIsBroken", "PleaseInputValidUsername", "LinkIsNotAWebAddress", "SystemTooOldForClient", "BindModuleCannotBeLoaded",
    "BindModuleRegistrationFailed",
    "OpenVpnProgramNotTrusted", "UpdateFileNotGenuine_Tip", "ServerCertificateRefused", "TransferStalled", "PreparingLogin", "LoginIsCancelled",
    "NetworkOrServerErrorToLogin", "LoginError", "VpnConnectionAlreadyExistsCloseFirst",
    "DHCPOnVPNDetected", "CannotModifyFollowingRoutesContinueYesOrNot", "CannotModifyRoutes",
    "LoginWithCannotModifyAllRoutes", "FirstClickConnect", "LoginOKClickToOpenMainWindow",
    "DisconnectedUnexcepted", "Reconnecting", "DisconnectedTrafficBlocked", "LeakProtection", "AllowLocalNetwork",
    "ReconnectAutomatically",
    "AlreadyDisconnected", "PleaseRebootSystem", "Application",
    "ProgramPath", "ApplicationIsUsingVPN", "VpnAppStatusActive", "VpnAppStatusInactive",
    "VpnAppButtonActivateAndRun", "VpnAppButtonActivateOnly", "VpnAppButtonDone",
    "VpnAppUsageTip1", "VpnAppUsageTip2", "VpnAppUsageTip3", "VpnAppUsageHelp",
    "DragAppToThisListMsg1", "DragAppToThisListMsg2", "MustBeShortcutOrEXE",
    "YouHavenotChosenVpnApp", "ChooseVpnPolicy", "VpnServerCategoryChina",
    "VpnServerCategoryAsia", "VpnServerCategoryUSA", "VpnServersInMaintenance",
    "VpnServersTitle", "VpnServerSpeed_ms", "VpnServerSpeed_Timeout", "VpnServerSpeed_ToBeTested",
    "VpnServerSpeed_Testing", "VpnServerSpeed_Unknown", "YouHavenotChosenVpnServer",
    "ChosenVpnServerHaveNoVpnTypeTryAnother", "VpnRoutesTitle", "YouHavenotChosenVpnRoute",
    "AcceleratorModuleIsNotRegisteredGetFullVersion", "VpnRouteForAll", "VpnRouteForApp",
    "VpnRouteForAppTip", "VpnRoutesTipPleaseSelect", "VpnRoutesTipForAll", "VpnRoutesTipForApp",
    "VpnTypesTitle", "VpnTypeAuto", "VpnTypeAutoTip", "VpnTypePptpTip", "VpnTypeL2tpTip",
    "VpnTypeOpenVpnTip", "YouHavenotChosenVpnType", "RetestSpeed", "ServerName", "ServerComment",
    "ServerSpeed", "ServerLoad", "ApplyingNewConfigurationPleaseWait",
    "FirstL2TPTipForceYesOrNo_Reboot", "FirstL2TPTipForceYesOrNo_Force",
    "VpnAppWithoutOpenVPNOrTooOldPleaseDownloadOrUpgrade", "InstallOpenVPNTapTip",
    "InstallingOpenVpnDriver", "CannotInstallOpenVPN", "VpnUnknownError", "VpnUnknownState",
    "VpnState", "VpnErrorMessage", "VpnErrorDetail", "GENERAL_VPN_ERROR_SUCCESS",
    "GENERAL_VPN_ERROR_INTERNAL", "GENERAL_VPN_ERROR_CONNECT", "GENERAL_VPN_ERROR_ALREADY_CONNECTED",
    "GENERAL_VPN_ERROR_GET_GATEWAY", "GENERAL_VPN_ERROR_GET_LOCAL_IP",
    "GENERAL_VPN_ERROR_MODIFY_ROUTE", "GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER",
    "GENERAL_VPN_ERROR_GET_VPN_DNS", "OPEN_VPN_ERROR_EXEC", "OPEN_VPN_ERROR_NO_ADAPTER",
    "OPEN_VPN_ERROR_TLS_ERROR", "OPEN_VPN_ERROR_REFUSED_SETTING", "WINDOWS_VPN_ERROR_CREATE", "WINDOWS_VPN_ERROR_DIAL",
    "GENERAL_VPN_STATE_DISCONNECT", "GENERAL_VPN_STATE_DISCONNECTED", "GENERAL_VPN_STATE_START",
    "GENERAL_VPN_STATE_PREPARE", "GENERAL_VPN_STATE_CONNECT", "GENERAL_VPN_STATE_AUTHENTICATE",
    "GENERAL_VPN_STATE_AUTHENTICATED", "GENERAL_VPN_STATE_CONNECTED", "GENERAL_VPN_STATE_ALL_DONE",
    "GENERAL_VPN_STATE_RESTORE_ROUTE", "GENERAL_VPN_STATE_MODIFY_ROUTE", "ClientNeedUpdate",
    "CanNotUpdateGreenFile", "DownloadUpdateCompletedReadyToExecuteUpdateFile",
    "DoYouWantToCancelOnlineUpdate", "ConnectingToOnlineUpdateServer",
    "DownloadingUpdateFileSpeed", "VpnAppOnlineUpdateTitle", "CanNotFindDownloadURL_Tip",
    "CanNotDownloadFileCorrectly_Tip", "CanNotExecuteUpdateFile_Tip", "UpdateCancelledByUser_Tip",
    "DownloadUpdateFileFailed_Tip", "OnlineUpdateFailureTip",
};

class TextTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
};

struct KeyText {
  std::string_view key;
  std::wstring expected;
};

TEST_F(TextTableTest, LookupEdgeCases) {
  const KeyText cases[] = {
      {"Cancel", L"Cancel"},
      {"cancel", L"[!] cancel"},
      {"CANCEL", L"[!] CANCEL"},
      {"", L"[!] "},
      {"Abc", L"[!] Abc"},
      {"Cancel ", L"[!] Cancel "},
      {"YouHavenotChosenVpnServer", L"You haven't chosen any VPN Servers"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetText(c.key), c.expected) << "key '" << c.key << "'";
  }
}

TEST_F(TextTableTest, UnknownKeyIsWidenedBytewise) {
  // Bytes above 0x7F must not sign-extend into huge wide characters.
  const std::wstring text = GetText("\xE9x");
  ASSERT_EQ(text.size(), 6u);
  EXPECT_EQ(text.substr(0, 4), L"[!] ");
  EXPECT_EQ(text[4], static_cast<wchar_t>(0xE9));
  EXPECT_EQ(text[5], L'x');
}

TEST_F(TextTableTest, KeyLookupAcceptsNonTerminatedView) {
  const std::string_view key = std::string_view("OKAY").substr(0, 2);
  EXPECT_EQ(GetText(key), L"OK");
}

TEST_F(TextTableTest, ReturnedStringIsACopy) {
  std::wstring text = GetText("Connect");
  text[0] = L'X';
  text += L" more";
  EXPECT_EQ(GetText("Connect"), L"Connect");
}

TEST_F(TextTableTest, LoadingAgainKeepsTheSameTable) {
  const std::wstring before = GetText("VpnAppUsageHelp");
  LoadTextTable();
  EXPECT_EQ(TextTableSize(), 170u);
  EXPECT_EQ(GetText("VpnAppUsageHelp"), before);
}

TEST_F(TextTableTest, HoldsExactlyTheKnownKeys) {
  const std::set<std::string_view> distinct(std::begin(kAllKeys), std::end(kAllKeys));
  ASSERT_EQ(distinct.size(), 170u) << "the key list itself has duplicates";
  EXPECT_EQ(TextTableSize(), 170u);
  for (const char* key : kAllKeys) {
    const std::wstring text = GetText(key);
    EXPECT_NE(text.rfind(L"[!] ", 0), 0u) << "missing key " << key;
    EXPECT_FALSE(text.empty()) << "empty text for " << key;
  }
}

TEST_F(TextTableTest, UsageHelpJoinsTheThreeTips) {
  const std::wstring tip1 = GetText("VpnAppUsageTip1");
  const std::wstring tip2 = GetText("VpnAppUsageTip2");
  const std::wstring tip3 = GetText("VpnAppUsageTip3");
  const std::wstring help = GetText("VpnAppUsageHelp");

  EXPECT_EQ(tip1.rfind(L"Tip 1/3.", 0), 0u);
  EXPECT_EQ(tip2.rfind(L"Tip 2/3.", 0), 0u);
  EXPECT_EQ(tip3.rfind(L"Tip 3/3.", 0), 0u);
  EXPECT_EQ(help.rfind(L"Tip 1/3.", 0), 0u);
  EXPECT_EQ(help, tip1 + L"\r\n\r\n" + tip2 + L"\r\n\r\n" + tip3);

  // The help box ends with the last sentence of the third tip, not a separator.
  const std::size_t lastSentence = tip3.rfind(L". ");
  ASSERT_NE(lastSentence, std::wstring::npos);
  const std::wstring tail = tip3.substr(lastSentence + 2);
  ASSERT_GE(help.size(), tail.size());
  EXPECT_EQ(help.substr(help.size() - tail.size()), tail);
}

TEST_F(TextTableTest, SpeedTextFormatsMilliseconds) {
  const std::wstring format = GetText("VpnServerSpeed_ms");
  wchar_t buffer[32];
  ASSERT_GT(std::swprintf(buffer, 32, format.c_str(), 42), 0);
  EXPECT_EQ(std::wstring(buffer), L"42 ms");
}

TEST_F(TextTableTest, QuotedTexts) {
  const std::wstring host(kHost);
  const KeyText cases[] = {
      {"ParenthesisVersion", L"(Version: 2.3.0.2)"},
      {"Username", L"Account"},
      {"ForgotPassword", L"Forgot it?"},
      {"GuideHelp", L"Help"},
      {"OnlineCustomerSupport", L"Support"},
      {"UnknownClientIP", L"detecting ..."},
      {"ExpiredDate", L"Valid"},
      {"ExpiredDateUnknown", L"(Offline)"},
      {"VpnAppLoginTitle", L"Quillnet Login"},
      {"RegisterModulesFailed",
       L"Quillnet Modules can not be installed. Perhaps they have been installed already?"},
      {"VpnConnectedAreYouSureToExit",
       L"You have connected to a VPN server. Are you sure to disconnect and exit? If you want to "
       L"hide this window only, please click the \"Minimize\" button in the title bar."},
      {"BlockedOperationIsRunning", L"Quillnet is running an operation ... Please wait ..."},
      {"CannotModifyFollowingRoutesContinueYesOrNot",
       L"Can not modify the following network routes, continue or not?\r\n"},
      {"FirstClickConnect",
       L"After login, Quillnet will be minimized to your taskbar tray area. You can click the "
       L"icon to reopen the main window.\n\nThis message is shown only once and won't be "
       L"displayed next time."},
      {"AddAcceleratedAppFileDialogFilter",
       L"Shortcut Links or Executable Files(*.lnk;*.exe)|*.lnk;*.exe||"},
      {"VpnAppButtonActivateAndRun", L"Activate && Run"},
      {"PleaseInputValidUsername", L"Please input your account(username)"},
      {"NetworkOrServerErrorToLogin", L"Network error or server error occured, login failed"},
      {"LoginWithCannotModifyAllRoutes", L"Login succeeded(Routes partially modified)"},
      {"MustBeShortcutOrEXE", L"Only executable(.exe) or valid shortcut(.lnk) file can be accepted"},
      {"ChooseVpnPolicy", L"Choose a VPN Server"},
      {"VpnServerSpeed_ms", L"%d ms"},
      {"VpnServerSpeed_ToBeTested", L"(N/A)"},
      {"VpnServerSpeed_Testing", L"Test..."},
      {"RetestSpeed", L"Remeasure"},
      {"ServerSpeed", L"Response Speed"},
      {"ChosenVpnServerHaveNoVpnTypeTryAnother",
       L"The VPN Servers you have chosen isn't providing services now, please choose another one"},
      {"YouHavenotChosenVpnRoute", L"You haven't chosen any VPN Mode"},
      {"VpnRoutesTipPleaseSelect", L"Please choose a VPN Mode"},
      {"YouHavenotChosenVpnType", L"You haven't chosen a VPN Type"},
      {"VpnTypeAutoTip", L"The VPN Type will be chosed automatically"},
      {"FirstL2TPTipForceYesOrNo_Force",
       L"Some initialization for L2TP must be done.\n\nIt's recommended to reboot your computer "
       L"later. Without rebooting, you can still apply the changes, do you want to apply the "
       L"changes without reboot?"},
      {"InstallOpenVPNTapTip",
       L"You need install OpenVPN Tap driver to continue, click OK to install this driver.\n\n"
       L"NOTE: This operation need some time, and may cause Quillnet paused. Please be patient"
       L"\n\nIf you see any driver installation dialog, please allow the installation to "
       L"continue"},
      {"AcceleratorModuleIsNotRegisteredGetFullVersion",
       L"Accelerator module is not installed correctly, you can not use acceleration for special "
       L"applications. Please get a full version Quillnet from " +
           host + L" and re-install.\n\nDo you want to upgrade automatically?"},
      {"VpnAppWithoutOpenVPNOrTooOldPleaseDownloadOrUpgrade",
       L"Your Quillnet client doesn't have OpenVPN componment, or is out-dated.\n\nYou can "
       L"download a full version from " +
           host + L".\n\nDo you want to upgrade automatically?"},
      {"ClientNeedUpdate",
       L"Your Quillnet is outdated and need to be updated.\n\nIf you meet problems during the "
       L"update, you can navigate your browser to " +
           host + L" to get the latest version."},
      {"OnlineUpdateFailureTip",
       L"You can run Quillnet and update again, or you can navigate your browser to " + host +
           L" to get the latest version."},
      {"DownloadingUpdateFileSpeed", L"Downloading update file ... Speed:"},
      {"PleaseRebootSystem", L"Restarting your system may resolve this problem."},
      {"OPEN_VPN_ERROR_TLS_ERROR", L"TLS Security Error: Date/Time/Credential is invalid?"},
      {"GENERAL_VPN_STATE_AUTHENTICATED", L"Authenticated, configuring ..."},
      {"GENERAL_VPN_STATE_ALL_DONE", L"Login succeeded"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetText(c.key), c.expected) << "key " << c.key;
  }
}

TEST_F(TextTableTest, UpdateGreenFileNamesTheWebSite) {
  EXPECT_NE(GetText("CanNotUpdateGreenFile").find(kHost), std::wstring::npos);
}

}  // namespace
