#include "app/chrome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "account/reply_document.h"
#include "fakes/fake_module_version.h"
#include "fakes/temp_dir.h"
#include "text/text_table.h"

namespace {

constexpr std::uint32_t kTaskbarCreated = 0xC0F3;

TEST(TrayFilter, DecisionsForEachMessage) {
  struct Case {
    const char* name;
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::uint32_t taskbarCreated;
    bool handled;
    TrayAction action;
  } cases[] = {
      {"shell restarted", kTaskbarCreated, 0, 0, kTaskbarCreated, true, TrayAction::ReAddIcon},
      {"unregistered message never matches", 0, 0, 0, 0, false, TrayAction::None},
      {"right click", kTrayCallbackMessage, 1, 0x0205, kTaskbarCreated, true, TrayAction::ShowMenu},
      {"double click", kTrayCallbackMessage, 1, 0x0203, kTaskbarCreated, true, TrayAction::RunDefaultCommand},
      {"left click", kTrayCallbackMessage, 1, 0x0202, kTaskbarCreated, false, TrayAction::ShowMainWindow},
      {"mouse move", kTrayCallbackMessage, 1, 0x0200, kTaskbarCreated, false, TrayAction::None},
      {"right button down", kTrayCallbackMessage, 1, 0x0204, kTaskbarCreated, false, TrayAction::None},
      {"another icon id", kTrayCallbackMessage, 2, 0x0205, kTaskbarCreated, false, TrayAction::None},
      {"destroy", 0x0002, 0, 0, kTaskbarCreated, false, TrayAction::RemoveIcon},
      {"paint", 0x000F, 0, 0, kTaskbarCreated, false, TrayAction::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TrayDecision d = TrayFilter(c.message, c.wParam, c.lParam, c.taskbarCreated);
    EXPECT_EQ(d.handled, c.handled);
    EXPECT_EQ(d.action, c.action);
  }
}

TEST(TrayIcon, IconFollowsTraffic) {
  EXPECT_EQ(TrayIconForTraffic(10, 20, 10, 20), kIconIdle);
  EXPECT_EQ(TrayIconForTraffic(10, 20, 11, 21), kIconBothChanged);
  EXPECT_EQ(TrayIconForTraffic(10, 20, 11, 20), kIconSentChanged);
  EXPECT_EQ(TrayIconForTraffic(10, 20, 10, 21), kIconReceivedChanged);
  // A counter that went back (a new connection) still counts as a change.
  EXPECT_EQ(TrayIconForTraffic(10, 20, 0, 20), kIconSentChanged);
}

TEST(Docking, AccelerateDialogBesideTheMainWindow) {
  const ScreenRect monitor{0, 0, 1280, 1024};
  struct Case {
    const char* name;
    ScreenRect monitor, main, dialog;
    DockPlacement expected;
  } cases[] = {
      {"room on the right", monitor, {100, 50, 427, 514}, {0, 0, 400, 300}, {100, 427, 50}},
      {"exactly fits", monitor, {553, 50, 880, 514}, {0, 0, 400, 300}, {553, 880, 50}},
      {"moved left", monitor, {1000, 80, 1327, 544}, {0, 0, 400, 300}, {553, 880, 80}},
      {"never past the left edge", monitor, {100, 0, 427, 464}, {0, 0, 1100, 300}, {0, 327, 0}},
      {"second monitor", {1280, 0, 2560, 1024}, {2400, 10, 2727, 474}, {0, 0, 300, 200}, {1933, 2260, 10}},
      {"monitor left of the origin", {-1280, 0, 0, 1024}, {-1500, 5, -1173, 469}, {0, 0, 300, 200},
       {-1280, -953, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DockPlacement p = PlaceAccelerateDialog(c.monitor, c.main, c.dialog);
    EXPECT_EQ(p.mainLeft, c.expected.mainLeft);
    EXPECT_EQ(p.dialogLeft, c.expected.dialogLeft);
    EXPECT_EQ(p.top, c.expected.top);
  }
  const DockPlacement follow = FollowMainWindow({300, 40, 627, 504});
  EXPECT_EQ(follow.dialogLeft, 627);
  EXPECT_EQ(follow.top, 40);
}

class CFakeLauncher : public IUrlLauncher {
 public:
  bool ShellOpen(const std::wstring& target) override {
    calls.push_back(L"shell " + target);
    return shellWorks;
  }
  bool Run(const std::wstring& program, const std::wstring& parameters) override {
    calls.push_back(L"run " + program + L" " + parameters);
    return program == L"rundll32.exe" ? handlerWorks : browserWorks;
  }
  void ShowMessage(const std::wstring& text, const std::wstring& caption, BoxIcon icon) override {
    calls.push_back(L"box " + caption + L" " + text);
    icons.push_back(icon);
  }
  bool shellWorks = false, handlerWorks = false, browserWorks = false;
  std::vector<std::wstring> calls;
  std::vector<BoxIcon> icons;
};

TEST(OpenUrl, FallsBackThroughHandlerBrowserAndBox) {
  const std::wstring url = L"http://www.quillnet.example/register.php?rf=main";
  const std::wstring shell = L"shell " + url;
  const std::wstring handler = L"run rundll32.exe url.dll,FileProtocolHandler " + url;
  const std::wstring browser = L"run C:\\Program Files\\Internet Explorer\\iexplore.exe " + url;
  const std::wstring box = L"box Please visit: " + url;
  struct Case {
    bool shell, handler, browser;
    UrlOpenedBy by;
    std::vector<std::wstring> calls;
  } cases[] = {
      {true, true, true, UrlOpenedBy::Shell, {shell}},
      {false, true, true, UrlOpenedBy::UrlHandler, {shell, handler}},
      {false, false, true, UrlOpenedBy::FixedBrowser, {shell, handler, browser}},
      {false, false, false, UrlOpenedBy::MessageBox, {shell, handler, browser, box}},
  };
  for (const Case& c : cases) {
    CFakeLauncher launcher;
    launcher.shellWorks = c.shell;
    launcher.handlerWorks = c.handler;
    launcher.browserWorks = c.browser;
    EXPECT_EQ(OpenUrl(launcher, url), c.by);
    EXPECT_EQ(launcher.calls, c.calls);
    if (c.by == UrlOpenedBy::MessageBox) {
      EXPECT_EQ(launcher.icons, std::vector<BoxIcon>{BoxIcon::Information});
    }
  }
}

TEST(OpenUrl, SomethingNotAWebAddressIsRefusedAndTheUserTold) {
  LoadTextTable();
  const std::wstring told = L"box Quillnet " + GetText("LinkIsNotAWebAddress") + L"\n\n";
  const std::wstring longPath = L"ftp://files.quillnet.example/" + std::wstring(300, L'a');
  struct Case {
    std::wstring link;
    std::wstring shown;  // what the box shows of it
  } cases[] = {
      {L"C:\\Windows\\notepad.exe", L"C:\\Windows\\notepad.exe"},
      {L"file:///etc/passwd", L"file:///etc/passwd"},
      {L"javascript:alert(1)", L"javascript:alert(1)"},
      {L"www.quillnet.example/news", L"www.quillnet.example/news"},
      {L"http://x/\" & calc", L"http://x/\" & calc"},
      {L"http://", L"http://"},
      {L"", L""},
      {L"news\r\nline", L"news  line"},
      {longPath, longPath.substr(0, 200) + L"..."},
  };
  for (const Case& c : cases) {
    CFakeLauncher launcher;
    EXPECT_EQ(OpenUrl(launcher, c.link), UrlOpenedBy::Refused) << c.link;
    // Never the shell, a program or a browser: only the box that says why.
    EXPECT_EQ(launcher.calls, std::vector<std::wstring>{told + c.shown}) << c.link;
    EXPECT_EQ(launcher.icons, std::vector<BoxIcon>{BoxIcon::Warning}) << c.link;
  }
}

TEST(WebButtons, PagesWithAndWithoutChannelTag) {
  const std::wstring site = L"http://www.quillnet.example/";
  EXPECT_EQ(WebButtonUrl(1005, site), site + L"register.php?rf=main");
  EXPECT_EQ(WebButtonUrl(1006, site), site + L"purchase.php?rf=main");
  EXPECT_EQ(WebButtonUrl(1007, site), site + L"freetrial.php?rf=main");
  EXPECT_EQ(WebButtonUrl(1009, site), site + L"help.php?rf=main");
  EXPECT_EQ(WebButtonUrl(1012, site), site + L"?rf=main");
  EXPECT_EQ(WebButtonUrl(1040, site), site + L"retrieve_password.php");
  EXPECT_EQ(WebButtonUrl(1003, site), L"");
}

void SetTimeZone(const char* tz) {
#ifdef _WIN32
  _putenv_s("TZ", tz ? tz : "");
  _tzset();
#else
  if (tz)
    setenv("TZ", tz, 1);
  else
    unsetenv("TZ");
  tzset();
#endif
}

class Announcements : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { LoadTextTable(); }
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    savedTz_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    SetTimeZone("UTC0");
  }
  void TearDown() override { SetTimeZone(hadTz_ ? savedTz_.c_str() : nullptr); }
  std::string savedTz_;
  bool hadTz_ = false;
};

TEST_F(Announcements, SlotsFromTheDocument) {
  CTempDir dir;
  const std::wstring doc = dir.Write(L"anns.ini",
                                     "[VPN]\r\nClientIP=203.0.113.9\r\n[Announcements]\r\n"
                                     "Title0=Welcome \xE2\x80\x94 news\r\nUrl0=http://site.example/1\r\nDatetimeGMT0=1767225600\r\n"
                                     "Title1=\r\nUrl1=http://site.example/blank\r\n"
                                     "Title2=No date\r\n"
                                     "Title3=Last\r\nDatetimeGMT3=86400\r\n");
  const AnnouncementSlots slots = ReadAnnouncements(doc);
  EXPECT_EQ(slots[0].text, L"[2026-01-01] Welcome \u2014 news");
  EXPECT_EQ(slots[0].link, L"http://site.example/1");
  EXPECT_EQ(slots[1].text, L"");
  EXPECT_EQ(slots[1].link, L"") << "a blank title blanks the link too";
  EXPECT_EQ(slots[2].text, L"[1970-01-01] No date");
  EXPECT_EQ(slots[3].text, L"[1970-01-02] Last");
  EXPECT_EQ(ReadClientIp(doc), L"203.0.113.9");

  const AnnouncementSlots none = ReadAnnouncements(dir.File(L"missing.ini"));
  for (const AnnouncementSlot& s : none) EXPECT_TRUE(s.text.empty() && s.link.empty());
  EXPECT_EQ(ReadClientIp(dir.File(L"missing.ini")), L"detecting ...");
}

TEST_F(Announcements, LocalDateFormat) {
  EXPECT_EQ(FormatLocalDate(0), L"1970-01-01");
  EXPECT_EQ(FormatLocalDate(1593475200), L"2020-06-30");
  EXPECT_EQ(FormatLocalDate(4102444799), L"2099-12-31");
  SetTimeZone("EST5");
  EXPECT_EQ(FormatLocalDate(1593475200), L"2020-06-29") << "the local zone, not UTC";
}

TEST(About, TextCarriesVersionBuildDateAndSite) {
  const std::wstring text = AboutText(L"2026-12-09", L"http://www.quillnet.example/");
  EXPECT_EQ(text.find(L"Quillnet 2.3.0.2 (2026-12-09)\n\n"), 0u);
  EXPECT_NE(text.find(L"\n\nhttp://www.quillnet.example/\n"), std::wstring::npos);

  CFakeModuleVersion version(CFakeModuleVersion::Pack(2, 3, 0, 2));
  version.values[L"BuildDate"] = L"2026-11-30";
  EXPECT_EQ(AboutText(version, L"http://x.example/").find(L"Quillnet 2.3.0.2 (2026-11-30)\n"), 0u);
  CFakeModuleVersion none;
  EXPECT_EQ(AboutText(none, L"http://x.example/").find(L"Quillnet 2.3.0.2 ()\n"), 0u) << "no resource, no date";
}

}  // namespace
