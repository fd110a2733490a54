#include "text/text_table.h"

#include "account/operator_hosts.h"

#include <functional>
#include <map>
#include <utility>

namespace {


using TextMap = std::map<std::string, std::wstring, std::less<>>;

// A function-local object, so that a lookup made while other globals are
// still being constructed finds an empty table instead of a dead one.
TextMap& Table() {
  static TextMap table;
  return table;
}

void Set(const char* key, std::wstring text) {
  Table().insert_or_assign(key, std::move(text));
}

}  // namespace

void LoadTextTable() {
  const std::wstring host = kBuiltInWebSiteHost;

  Set("RegisterModulesSuccessfully", L"Quillnet Modules are installed successfully.");
  Set("RegisterModulesFailed",
      L"Quillnet Modules can not be installed. Perhaps they have been installed already?");
  Set("UnregisterModulesSuccessfully", L"Quillnet Modules are uninstalled successfully.");
  Set("UnregisterModulesFailed",
      L"Quillnet Modules can not be uninstalled. Perhaps they have been uninstalled already?");
  Set("ParenthesisVersion", L"(Version: 2.3.0.2)");
  Set("RouteTableNotAvailable", L"Can not connect: the route table can not be read.");
  Set("OK", L"OK");
  Set("Cancel", L"Cancel");
  Set("Login", L"Login");
  Set("Connect", L"Connect");
  Set("Disconnect", L"Disconnect");
  Set("Username", L"Account");
  Set("Password", L"Password");
  Set("SavePassword", L"Save password");
  Set("ForgotPassword", L"Forgot it?");
  Set("Ready", L"Ready");
  Set("UserRegister", L"Register");
  Set("Purchase", L"Purchase");
  Set("FreeTrial", L"Free Trial");
  Set("GuideHelp", L"Help");
  Set("Help", L"Help");
  Set("OnlineCustomerSupport", L"Support");
  Set("YourIP", L"Your IP");
  Set("UnknownClientIP", L"detecting ...");
  Set("ExpiredDate", L"Valid");
  Set("ExpiredDateUnknown", L"(Offline)");
  Set("ExpiredDateExpired", L"(Expired)");
  Set("VpnConnectedAreYouSureToExit",
      L"You have connected to a VPN server. Are you sure to disconnect and exit? "
      L"If you want to hide this window only, please click the \"Minimize\" button "
      L"in the title bar.");
  Set("CanNotFindFastestServer",
      L"Failed to detect your IP address and can not connect to our servers. "
      L"Maybe there is something wrong with your network? You may try again later.");
  Set("LoadingNews", L"Loading news ...");
  Set("VpnAppLoginTitle", L"Quillnet Login");
  Set("SystemTooOldForClient",
      L"Quillnet needs Windows 7 Service Pack 1 or later. Please update Windows to use Quillnet on this computer.");
  Set("VpnAppAlreadyRunUseTrayIconToActivate",
      L"Quillnet is running, please double-click the icon in your task-bar tray area "
      L"to show the main window.");
  Set("BlockedOperationIsRunning", L"Quillnet is running an operation ... Please wait ...");
  Set("NoLoginHost", L"No host to login");
  Set("LoadingVPNInformation", L"Loading VPN information ...");
  Set("CannotStartInternetConnection",
      L"Can not start an Internet connection, your network may have problems");
  Set("AcceleratedAppSetting", L"Accelerated Application Setting");
  Set("AddAcceleratedAppFileDialogFilter",
      L"Shortcut Links or Executable Files(*.lnk;*.exe)|*.lnk;*.exe||");
  Set("VpnBindForceWSPBind", L"Force to use VPN IP Binding");
  Set("VpnBindUseAsyncMode", L"Use Asynchronously Binding Mode");
  Set("VpnBindIsBroken",
      L"Accelerator module is not installed correctly, you can not use acceleration "
      L"for special applications");
  Set("BindModuleCannotBeLoaded",
      L"The accelerator module QuillnetBind.dll beside Quillnet is missing or cannot be loaded, so no application "
      L"could use the VPN in this mode. Please reinstall Quillnet, or choose another route.");
  Set("BindModuleRegistrationFailed",
      L"The accelerator module could not be registered (nothing of it was left registered), so no application "
      L"could use the VPN in this mode. Please start Quillnet as administrator, or choose another route.");
  Set("PleaseInputValidUsername", L"Please input your account(username)");
  Set("LinkIsNotAWebAddress", L"This link is not a web address, so it was not opened:");
  Set("PreparingLogin", L"Preparing login ...");
  Set("LoginIsCancelled", L"Login is cancelled");
  Set("NetworkOrServerErrorToLogin", L"Network error or server error occured, login failed");
  Set("LoginError", L"Login error occured");
  Set("VpnConnectionAlreadyExistsCloseFirst",
      L"A VPN connection already exists. Please close it first and try again.");
  Set("DHCPOnVPNDetected",
      L"DHCP on your VPN device was detected! It will cause connection failure. "
      L"The DHCP on VPN will be disabled automatically and please re-login");
  // Callers append the failed routes after the trailing line break.
  Set("CannotModifyFollowingRoutesContinueYesOrNot",
      L"Can not modify the following network routes, continue or not?\r\n");
  Set("CannotModifyRoutes", L"Can not modify network routes.");
  Set("LoginWithCannotModifyAllRoutes", L"Login succeeded(Routes partially modified)");
  Set("FirstClickConnect",
      L"After login, Quillnet will be minimized to your taskbar tray area. "
      L"You can click the icon to reopen the main window.\n\n"
      L"This message is shown only once and won't be displayed next time.");
  Set("LoginOKClickToOpenMainWindow",
      L"After login, click the icon in taskbar tray area to reopen the main window.");
  Set("DisconnectedUnexcepted", L"VPN is disconnected unexpectedly.");
  Set("Reconnecting", L"Connection lost, reconnecting ...");
  Set("DisconnectedTrafficBlocked", L"Connection lost: traffic stays blocked");
  Set("LeakProtection", L"Block leaks");
  Set("AllowLocalNetwork", L"Allow LAN");
  Set("ReconnectAutomatically", L"Reconnect");
  Set("AlreadyDisconnected", L"VPN has already been disconnected.");
  Set("PleaseRebootSystem", L"Restarting your system may resolve this problem.");
  Set("Application", L"Application");
  Set("ProgramPath", L"Program Path");
  Set("ApplicationIsUsingVPN", L"Use VPN");
  Set("VpnAppStatusActive", L"Active");
  Set("VpnAppStatusInactive", L"Inactive");
  // Button captions: "&&" is how a button shows a literal ampersand.
  Set("VpnAppButtonActivateAndRun", L"Activate && Run");
  Set("VpnAppButtonActivateOnly", L"Activate");
  Set("VpnAppButtonDone", L"Done");
  Set("VpnAppUsageTip1",
      L"Tip 1/3. Drag the applications or games which need VPN to the list below, "
      L"or right-click the list to add them from the Start Menu.");
  Set("VpnAppUsageTip2",
      L"Tip 2/3. Select applications in the list and click Activate to let them use VPN. "
      L"Double-click an application to activate and start it at once.");
  Set("VpnAppUsageTip3",
      L"Tip 3/3. An application that was already running when you activated it must be "
      L"restarted before it uses VPN. Applications that are not activated keep using "
      L"your normal network.");
  Set("VpnAppUsageHelp", GetText("VpnAppUsageTip1") + L"\r\n\r\n" + GetText("VpnAppUsageTip2") +
                             L"\r\n\r\n" + GetText("VpnAppUsageTip3"));
  Set("DragAppToThisListMsg1", L"Please drag the applications/games which need VPN to this list,");
  Set("DragAppToThisListMsg2", L"or right-click to add them from Start Menu");
  Set("MustBeShortcutOrEXE", L"Only executable(.exe) or valid shortcut(.lnk) file can be accepted");
  Set("YouHavenotChosenVpnApp",
      L"Please select some applications or games that you want to accelerate via VPN");
  Set("ChooseVpnPolicy", L"Choose a VPN Server");
  Set("VpnServerCategoryChina", L"China");
  Set("VpnServerCategoryAsia", L"Asia");
  Set("VpnServerCategoryUSA", L"USA");
  Set("VpnServersInMaintenance", L"System in maintenance. Please try again later.");
  Set("VpnServersTitle", L"VPN Servers");
  Set("VpnServerSpeed_ms", L"%d ms");
  Set("VpnServerSpeed_Timeout", L"Timeout");
  Set("VpnServerSpeed_ToBeTested", L"(N/A)");
  Set("VpnServerSpeed_Testing", L"Test...");
  Set("VpnServerSpeed_Unknown", L"Unknown");
  Set("YouHavenotChosenVpnServer", L"You haven't chosen any " + GetText("VpnServersTitle"));
  Set("ChosenVpnServerHaveNoVpnTypeTryAnother",
      L"The " + GetText("VpnServersTitle") +
          L" you have chosen isn't providing services now, please choose another one");
  Set("VpnRoutesTitle", L"VPN Mode");
  Set("YouHavenotChosenVpnRoute", L"You haven't chosen any " + GetText("VpnRoutesTitle"));
  Set("AcceleratorModuleIsNotRegisteredGetFullVersion",
      L"Accelerator module is not installed correctly, you can not use acceleration for "
      L"special applications. Please get a full version Quillnet from " +
          host + L" and re-install.\n\nDo you want to upgrade automatically?");
  Set("VpnRouteForAll", L"For All");
  Set("VpnRouteForApp", L"For Application");
  Set("VpnRouteForAppTip",
      L"(Please specify applications which need VPN after you have connected to a VPN server.)");
  Set("VpnRoutesTipPleaseSelect", L"Please choose a " + GetText("VpnRoutesTitle"));
  Set("VpnRoutesTipForAll",
      L"All applications use VPN. All your network traffic goes through the VPN server, "
      L"so local web sites may become slower.");
  Set("VpnRoutesTipForApp",
      L"Recommended. Only specified applications use VPN, others are not affected. "
      L"You can specify your applications after VPN connection. "
      L"If not working properly, try other modes.");
  Set("VpnTypesTitle", L"VPN Type");
  Set("VpnTypeAuto", L"Auto");
  Set("VpnTypeAutoTip", L"The VPN Type will be chosed automatically");
  Set("VpnTypePptpTip",
      L"PPTP VPN is suitable for home networks, wide-band networks, xDSL networks and "
      L"cybercafe networks. If you can not connect, try L2TP or OpenVPN.");
  Set("VpnTypeL2tpTip",
      L"L2TP VPN is usually used in the Intranet or LAN where the PPTP is blocked. "
      L"If you can not connect, try PPTP or OpenVPN.");
  Set("VpnTypeOpenVpnTip",
      L"OpenVPN can be used in the networks where PPTP and L2TP are blocked. "
      L"OpenVPN Mode can not enjoy the Dedicated IP.");
  Set("YouHavenotChosenVpnType", L"You haven't chosen a " + GetText("VpnTypesTitle"));
  Set("RetestSpeed", L"Remeasure");
  Set("ServerName", L"Name");
  Set("ServerComment", L"Comment");
  Set("ServerSpeed", L"Response Speed");
  Set("ServerLoad", L"Load");
  Set("ApplyingNewConfigurationPleaseWait",
      L"Applying new configuration, please wait for a moment ...");
  Set("FirstL2TPTipForceYesOrNo_Reboot",
      L"Some initialization for L2TP must be done.\n\n"
      L"Do you want to apply the changes and reboot now?");
  Set("FirstL2TPTipForceYesOrNo_Force",
      L"Some initialization for L2TP must be done.\n\n"
      L"It's recommended to reboot your computer later. Without rebooting, you can still "
      L"apply the changes, do you want to apply the changes without reboot?");
  Set("VpnAppWithoutOpenVPNOrTooOldPleaseDownloadOrUpgrade",
      L"Your Quillnet client doesn't have OpenVPN componment, or is out-dated.\n\n"
      L"You can download a full version from " +
          host + L".\n\nDo you want to upgrade automatically?");
  Set("InstallOpenVPNTapTip",
      L"You need install OpenVPN Tap driver to continue, click OK to install this driver.\n\n"
      L"NOTE: This operation need some time, and may cause Quillnet paused. "
      L"Please be patient\n\n"
      L"If you see any driver installation dialog, please allow the installation to continue");
  Set("InstallingOpenVpnDriver", L"Installing OpenVPN Driver ...");
  Set("CannotInstallOpenVPN",
      L"OpenVPN driver can not be installed, and this driver is required by OpenVPN functions.");
  Set("VpnUnknownError", L"Unknown error");
  Set("VpnUnknownState", L"Unknown state");
  Set("VpnState", L"State");
  Set("VpnErrorMessage", L"Error");
  Set("VpnErrorDetail", L"Detail");
  Set("GENERAL_VPN_ERROR_SUCCESS", L"Success");
  Set("GENERAL_VPN_ERROR_INTERNAL", L"VPN Internal Error");
  Set("GENERAL_VPN_ERROR_CONNECT", L"Can not connect to the VPN server");
  Set("GENERAL_VPN_ERROR_ALREADY_CONNECTED", L"VPN connection already established");
  Set("GENERAL_VPN_ERROR_GET_GATEWAY", L"Detecting gateway failed");
  Set("GENERAL_VPN_ERROR_GET_LOCAL_IP", L"Detecting local IP failed");
  Set("GENERAL_VPN_ERROR_MODIFY_ROUTE", L"Modifying routes failed");
  Set("GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER", L"Starting route manager failed");
  Set("GENERAL_VPN_ERROR_GET_VPN_DNS", L"Failed to get DNS addresses of VPN");
  Set("OPEN_VPN_ERROR_EXEC", L"Executing OpenVPN failed");
  Set("OpenVpnProgramNotTrusted", L"OpenVPN was not started: its program could be changed by someone else.");
  Set("OPEN_VPN_ERROR_NO_ADAPTER", L"OpenVPN TAP Driver is not installed");
  Set("OPEN_VPN_ERROR_TLS_ERROR", L"TLS Security Error: Date/Time/Credential is invalid?");
  Set("OPEN_VPN_ERROR_REFUSED_SETTING", L"The server's OpenVPN settings were refused, and OpenVPN was not started:");
  Set("WINDOWS_VPN_ERROR_CREATE", L"Creating VPN entry failed");
  Set("WINDOWS_VPN_ERROR_DIAL", L"Starting dialing failed");
  Set("GENERAL_VPN_STATE_DISCONNECT", L"Disconnecting ...");
  Set("GENERAL_VPN_STATE_DISCONNECTED", L"Disconnected");
  Set("GENERAL_VPN_STATE_START", L"Starting VPN ...");
  Set("GENERAL_VPN_STATE_PREPARE", L"Preparing VPN ...");
  Set("GENERAL_VPN_STATE_CONNECT", L"Connecting ...");
  Set("GENERAL_VPN_STATE_AUTHENTICATE", L"Authenticating ...");
  Set("GENERAL_VPN_STATE_AUTHENTICATED", L"Authenticated, configuring ...");
  Set("GENERAL_VPN_STATE_CONNECTED", L"Connected ...");
  Set("GENERAL_VPN_STATE_ALL_DONE", L"Login succeeded");
  Set("GENERAL_VPN_STATE_RESTORE_ROUTE", L"Restoring routes ...");
  Set("GENERAL_VPN_STATE_MODIFY_ROUTE", L"Modifying routes ...");
  Set("ClientNeedUpdate",
      L"Your Quillnet is outdated and need to be updated.\n\n"
      L"If you meet problems during the update, you can navigate your browser to " +
          host + L" to get the latest version.");
  Set("CanNotUpdateGreenFile",
      L"Quillnet can not be updated, the program file is in use or can not be written.\n\n"
      L"You can navigate your browser to " +
          host + L" to get the latest version.");
  Set("DownloadUpdateCompletedReadyToExecuteUpdateFile",
      L"The update data has been downloaded. Click OK to continue update.");
  Set("DoYouWantToCancelOnlineUpdate", L"Do you want to cancel online update?");
  Set("ConnectingToOnlineUpdateServer", L"Connecting to the server ...");
  Set("DownloadingUpdateFileSpeed", L"Downloading update file ... Speed:");
  Set("VpnAppOnlineUpdateTitle", L"Quillnet Online Update");
  Set("CanNotFindDownloadURL_Tip", L"Can not reach the update website.");
  Set("CanNotDownloadFileCorrectly_Tip", L"Can not download the update file");
  Set("CanNotExecuteUpdateFile_Tip", L"Can not execute the update file.");
  Set("UpdateFileNotGenuine_Tip", L"The downloaded update file is not a genuine Quillnet release; it was deleted.");
  Set("ServerCertificateRefused", L"the server's certificate could not be verified");
  Set("TransferStalled", L"the transfer stalled");
  Set("UpdateCancelledByUser_Tip",
      L"You have cancelled the update. You must use the latest version to login.");
  Set("DownloadUpdateFileFailed_Tip", L"Failed to download the update file.");
  Set("OnlineUpdateFailureTip",
      L"You can run Quillnet and update again, or you can navigate your browser to " + host +
          L" to get the latest version.");
}

std::wstring GetText(std::string_view key) {
  const TextMap& table = Table();
  if (auto it = table.find(key); it != table.end()) {
    return it->second;
  }
  std::wstring marked = L"[!] ";
  marked.reserve(marked.size() + key.size());
  for (char c : key) {
    marked.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return marked;
}

std::size_t TextTableSize() { return Table().size(); }
