#include "dialogs/dlg_vpn_policy_win.h"

#include <memory>
#include <optional>

#include "dialogs/vpn_server_list_ctrl_win.h"
#include "platform/message_batch.h"
#include "platform/window_message_target_win.h"
#include "servers/policy_view_logic.h"
#include "servers/speed_test.h"
#include "skin/skin_lists_win.h"
#include "skin/skin_window_win.h"
#include "text/text_table.h"
#include "ui/dialog_win.h"

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 420;
// Speed results reach the dialog in batches: loopback and near servers
// answer faster than the window can take one message per result.
constexpr UINT kSpeedResultsMessage = WM_APP + 78;
constexpr std::size_t kSpeedResultsPerBatch = 64;

// A type radio box that tells the dialog when the mouse is over it.
class CPolicyTypeBox : public CSkinRadioBox {
 public:
  std::function<void()> onHover, onLeave;
  bool SkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    if (message == WM_MOUSEMOVE && onHover) onHover();
    if (message == WM_MOUSELEAVE && onLeave) onLeave();
    return CSkinRadioBox::SkinMessage(message, wParam, lParam, result);
  }
};

UINT IconFlag(PolicyIcon icon) {
  switch (icon) {
    case PolicyIcon::Warning:
      return MB_ICONWARNING;
    case PolicyIcon::Question:
      return MB_ICONQUESTION;
    case PolicyIcon::Information:
      break;
  }
  return MB_ICONINFORMATION;
}

class CDlgVpnPolicy : public CDialog, public IPolicyView {
 public:
  explicit CDlgVpnPolicy(const VpnPolicyDialogInputs& inputs) : inputs_(inputs) {}

  std::optional<ConnectCheck> Result() const {
    if (!controller_ || !controller_->Confirmed()) return std::nullopt;
    return controller_->Result();
  }

  // IPolicyView
  void SetRouteRows(const std::vector<RouteRow>& rows) override {
    ::SendMessageW(routeList_.Handle(), LB_RESETCONTENT, 0, 0);
    for (const RouteRow& row : rows) routeList_.AddString(row.title);
  }
  void SelectRouteRow(int row) override { routeList_.SetCurSel(row); }
  void SetTip(const std::wstring& text) override {
    if (tip_.Text() == text) return;
    tip_.SetText(text);
    tip_.Invalidate(false);
  }
  void SetRouteLayout(const RouteLayout& layout) override {
    const PolicyRect r = PolicyTabRect(layout);
    tabs_.Move(MakeRect(r.left, r.top, r.right, r.bottom));
    perAppNote_.Show(layout.showPerAppNote);
    PlaceListWithoutTab();
  }
  void SetTypeBoxes(const TypeBoxes& boxes) override {
    for (int t = 0; t < 4; ++t) {
      types_[t].Enable(boxes.enabled[t]);
      types_[t].SetCheck(boxes.checked == t ? BST_CHECKED : BST_UNCHECKED);
    }
  }
  void SetTabs(const std::vector<CategoryTab>& tabs, int open) override {
    tabs_.DeleteAllTabs();
    for (const CategoryTab& tab : tabs) tabs_.InsertTab({-1, tab.text, tab.flagImage, {}, servers_.Handle()});
    tabs_.SetActiveTab(open);
    PlaceListWithoutTab();
  }
  void SetServerRows(const std::vector<ServerRow>& rows, int selected, const std::wstring& notice) override {
    servers_.SetRows(rows, selected, notice);
  }
  void SetSpeedCell(int row, const std::wstring& text) override { servers_.SetSpeedCell(row, text); }
  void ShowMessage(const std::wstring& text, PolicyIcon icon) override { Box(text, MB_OK | IconFlag(icon)); }
  bool AskYesNo(const std::wstring& text) override { return Box(text, MB_YESNO | MB_ICONQUESTION) == IDYES; }
  void StartFullUpdateAndExit() override {
    if (inputs_.startFullUpdateAndExit) inputs_.startFullUpdateAndExit();
  }
  bool BindModuleActive() override { return activeAfterRegistration_.value_or(inputs_.bindModuleActive); }
  std::int32_t RegisterBindModule() override {
    if (!inputs_.registerBindModule) return 0;
    bool active = false;
    const std::int32_t result = inputs_.registerBindModule(active);
    if (result == 0) activeAfterRegistration_ = active;
    return result;
  }
  bool BindModuleUsable() override { return inputs_.bindModuleUsable; }
  void StartSpeedTest() override { speedTest_->Start(ReadSpeedTestOverrides(inputs_.overrideFilePath)); }
  void StopSpeedTest() override {
    for (int worker : speedTest_->Stop()) ShowMessage(BlockedWorkerText(worker), PolicyIcon::Warning);
  }
  void Close(bool ok) override { EndDialog(ok ? IDOK : IDCANCEL); }

 protected:
  bool OnInitDialog() override;
  void OnOK() override { controller_->Connect(); }
  void OnCancel() override { controller_->Cancel(); }
  void OnCommand(int id, int code, HWND control) override;
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // With no tab at all the tab strip places no page: the empty list still
  // fills the page and shows its notice.
  void PlaceListWithoutTab() {
    if (tabs_.ActiveIndex() >= 0) return;
    const RECT page = tabs_.PageRect();
    servers_.Move(MakeRect(page.left + 1, page.top + 1, page.right - 1, page.bottom - 1));
    servers_.Show(true);
  }
  int Box(const std::wstring& text, UINT type) {
    if (inputs_.messageBox) return inputs_.messageBox(Handle(), text, type);
    return ::MessageBoxW(Handle(), text.c_str(), L"Quillnet", type);
  }

  const VpnPolicyDialogInputs& inputs_;
  std::optional<bool> activeAfterRegistration_;
  CSkinWindow skinWindow_;
  CSkinButton connect_, cancel_;
  CSkinHeaderPanel routePanel_, typePanel_;
  CSkinListBox routeList_;
  CPolicyTypeBox types_[4];
  CSkinTabCtrl tabs_;
  CVpnServerListCtrl servers_;
  CSkinStatic serversTitle_;
  CSkinButton remeasure_;
  CSkinStatic perAppNote_, tip_;
  std::unique_ptr<CWindowMessageTarget> target_;
  std::unique_ptr<CMessageBatcher> results_;
  std::unique_ptr<CSpeedTest> speedTest_;
  std::unique_ptr<CServerChooser> chooser_;
  std::unique_ptr<CPolicyDialogController> controller_;
};

bool CDlgVpnPolicy::OnInitDialog() {
  SetText(GetText("ChooseVpnPolicy"));
  SetSize(kWidth, kHeight);
  for (const wchar_t* box : {L"MaximizeBox", L"CloseBox", L"MinimizeBox"})
    CSkinAttributes::IntRef(skinWindow_.attributes, box) = 0;
  skinWindow_.Attach(Handle());

  CreateSkinButton(connect_, GetText("Connect"), MakeRect(470, 375, 570, 405), Handle(), IDOK);
  CreateSkinButton(cancel_, GetText("Cancel"), MakeRect(590, 375, 690, 405), Handle(), IDCANCEL);

  CreateSkinPanel(routePanel_, MakeRect(20, 50, 140, 230), Handle(), GetText("VpnRoutesTitle"));
  routePanel_.SetOwnString(L"Icon", L"IconVpnPolicyRoute");
  routeList_.Create(routePanel_.Handle(), MakeRect(3, 28, 118, 198));
  routeList_.onHover = [this](int row) { controller_->RouteHover(row); };
  routeList_.onLeave = [this] { controller_->RouteLeave(); };

  CreateSkinPanel(typePanel_, MakeRect(20, 240, 140, 360), Handle(), GetText("VpnTypesTitle"));
  typePanel_.SetOwnString(L"Icon", L"IconVpnPolicyType");
  const std::wstring typeTexts[4] = {GetText("VpnTypeAuto"), L"PPTP", L"L2TP", L"OpenVPN"};
  for (int t = 0; t < 4; ++t) {
    const int top = 32 + 23 * t;
    CreateSkinRadioBox(types_[t], typeTexts[t], MakeRect(15, top, 95, top + 15), typePanel_.Handle(),
                       kPolicyTypeAuto + t, t == 0);
    types_[t].onHover = [this, t] { controller_->TypeHover(t); };
    types_[t].onLeave = [this] { controller_->TypeLeave(); };
  }

  tabs_.Create(Handle(), MakeRect(150, 50, 690, 250), kPolicyTabs);
  servers_.Create(tabs_.Handle(), MakeRect(0, 25, 300, 125), kPolicyServerList);
  servers_.onColumnClick = [this](int column) { controller_->ColumnClicked(column); };
  servers_.onSelected = [this](int row) { controller_->ServerSelected(row); };
  CreateSkinStatic(serversTitle_, GetText("VpnServersTitle"), MakeRect(0, 0, 90, 19), tabs_.Handle());
  CreateSkinButton(remeasure_, GetText("RetestSpeed"), MakeRect(0, 0, 96, 19), tabs_.Handle(), kPolicyRemeasure,
                   L"LinkButton");
  remeasure_.SetOwnString(L"Icon", L"IconVpnPolicyRefresh");
  tabs_.SetRowWindows(serversTitle_.Handle(), remeasure_.Handle());

  CreateSkinStatic(perAppNote_, GetText("VpnRouteForAppTip"), MakeRect(150, 340, 690, 360), Handle(),
                   kPolicyPerAppNote);
  perAppNote_.SetOwnString(L"Icon", L"IconVpnAppStatusActive");
  CreateSkinStatic(tip_, GetText("VpnRoutesTipPleaseSelect"), MakeRect(22, 370, 462, 415), Handle(), kPolicyTip);
  tip_.OwnInt(L"TextColor") = static_cast<std::int32_t>(kPolicyTipColor);
  tip_.SetOwnString(L"Icon", L"IconTipInfo");

  target_ = std::make_unique<CWindowMessageTarget>(Handle());
  SpeedTestOptions options;
  options.udpPort = inputs_.udpPort;
  results_ = std::make_unique<CMessageBatcher>(*target_, kSpeedResultsMessage, kSpeedResultsPerBatch);
  speedTest_ = std::make_unique<CSpeedTest>(*results_, options);
  chooser_ = std::make_unique<CServerChooser>(LoadServerList(inputs_.replyPath), *speedTest_);
  controller_ = std::make_unique<CPolicyDialogController>(inputs_.replyPath, *chooser_, *this);
  controller_->SetUp();
  if (inputs_.onShown) ::PostMessageW(Handle(), WM_APP + 77, 0, 0);
  return true;
}

void CDlgVpnPolicy::OnCommand(int id, int code, HWND control) {
  if (id == kListBoxCommandId && code == LBN_SELCHANGE) {
    controller_->RouteSelected(routeList_.GetCurSel());
    return;
  }
  if (id >= kPolicyTypeAuto && id < kPolicyTypeAuto + 4 && (code == BN_CLICKED || code == BN_DOUBLECLICKED)) {
    controller_->TypeClicked(id - kPolicyTypeAuto);
    return;
  }
  if (id == kPolicyTabs) {
    controller_->TabChanged(tabs_.ActiveIndex());
    return;
  }
  if (id == kPolicyRemeasure && code == BN_CLICKED) {
    controller_->Remeasure();
    return;
  }
  CDialog::OnCommand(id, code, control);
}

bool CDlgVpnPolicy::HandleMessage(UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
  if (message == kSpeedResultsMessage && results_ && controller_) {
    for (const PostedMessage& m : results_->TakeBatch()) controller_->SpeedResult(m.message, m.wParam, m.lParam);
    result = 0;
    return true;
  }
  if (message == WM_NOTIFY) return ReflectListNotify(lParam, result);
  if (message == WM_APP + 77 && inputs_.onShown) {
    inputs_.onShown(Handle());
    return true;
  }
  return false;
}

}  // namespace

std::optional<ConnectCheck> RunVpnPolicyDialog(HWND parent, const VpnPolicyDialogInputs& inputs) {
  CDlgVpnPolicy dialog(inputs);
  if (dialog.DoModal(parent) != IDOK) return std::nullopt;
  return dialog.Result();
}
