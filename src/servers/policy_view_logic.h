// The chooser dialog's behaviour over a small view: set-up from the
// remembered choice, the tip line under the mouse, the layout for the
// selected route, the server list's notice, the type boxes following the
// selected server, and Connect and Cancel with the five remembered values.
// The decisions themselves live in policy_chooser; this class sequences
// them and tells the view what to show.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "servers/policy_chooser.h"

// Colours are 0x00BBGGRR.
constexpr std::uint32_t kPolicyTipColor = 0 | (106 << 8) | (146 << 16);
constexpr std::uint32_t kPolicyNoticeColor = 150 | (150 << 8) | (150 << 16);

struct PolicyRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const PolicyRect&) const = default;
};

// The category tab control for a route layout: same place and width, the
// layout's height.
PolicyRect PolicyTabRect(const RouteLayout& layout);

// Where a speed cell's icon and text go: the cell loses a pixel on the left
// and two on the right; the icon sits at its left edge, centred vertically,
// and the text runs from 4 pixels past the icon to the right edge.
struct SpeedCellPlace {
  PolicyRect icon;
  PolicyRect text;
};
SpeedCellPlace PlaceSpeedCell(const PolicyRect& cell, int iconWidth, int iconHeight);

// The tip line while the mouse is over the route list: the row under it,
// or the selected row's tip below the last row (`hoverRow` -1).
std::wstring RouteHoverTip(const std::wstring& replyPath, const std::vector<RouteRow>& rows, int hoverRow,
                           int selectedRow);
// The tip of a type radio box (VPN type 0 to 3); empty for another number.
std::wstring VpnTypeTip(int type);
// What an empty server list paints instead of rows; empty while it has rows.
std::wstring ServerListNotice(std::size_t rowCount);

// The five values of section Main the chooser remembers.
ChooserMemory ReadChooserMemory();
// Writes what Connect decided: the route once the route passed its checks,
// the server, tab and type only when everything did.
void WriteChooserMemory(const ConnectCheck& check);

enum class PolicyIcon { Information, Warning, Question };

class IPolicyView {
 public:
  virtual ~IPolicyView() = default;
  virtual void SetRouteRows(const std::vector<RouteRow>& rows) = 0;
  virtual void SelectRouteRow(int row) = 0;
  virtual void SetTip(const std::wstring& text) = 0;
  // Height of the tab control and whether the per-application note shows.
  virtual void SetRouteLayout(const RouteLayout& layout) = 0;
  virtual void SetTypeBoxes(const TypeBoxes& boxes) = 0;
  virtual void SetTabs(const std::vector<CategoryTab>& tabs, int open) = 0;
  // The whole list again: rows, the selected row (-1 none) scrolled into
  // view, and the notice to paint when there are no rows.
  virtual void SetServerRows(const std::vector<ServerRow>& rows, int selected, const std::wstring& notice) = 0;
  virtual void SetSpeedCell(int row, const std::wstring& text) = 0;
  virtual void ShowMessage(const std::wstring& text, PolicyIcon icon) = 0;
  // Yes/No with a question icon; true for Yes.
  virtual bool AskYesNo(const std::wstring& text) = 0;
  // The online update of the full set-up, then the main window's exit.
  virtual void StartFullUpdateAndExit() = 0;
  virtual bool BindModuleActive() = 0;
  // The module file beside the executable loads with its exports.
  virtual bool BindModuleUsable() { return true; }
  // Unregisters and registers the module again; 0 when that went through.
  // A failed registration leaves nothing of itself in the catalog.
  virtual std::int32_t RegisterBindModule() { return 0; }
  virtual void StartSpeedTest() = 0;
  virtual void StopSpeedTest() = 0;
  virtual void Close(bool ok) = 0;
};

class CPolicyDialogController {
 public:
  CPolicyDialogController(std::wstring replyPath, CServerChooser& chooser, IPolicyView& view)
      : replyPath_(std::move(replyPath)), chooser_(chooser), view_(view) {}

  // Everything from reading the remembered values to starting the speed
  // test.
  void SetUp();

  void RouteSelected(int row);
  // The mouse over the route list (`row` -1: below the last row), over a
  // type box, or leaving either.
  void RouteHover(int row);
  void RouteLeave();
  void TypeHover(int type);
  void TypeLeave();
  void TypeClicked(int type);

  void TabChanged(int tab);
  // `row` -1: the user cleared the selection.
  void ServerSelected(int row);
  void ColumnClicked(int column);
  // A speed-test result message; false when it was not one.
  bool SpeedResult(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
  void Remeasure();

  void Connect();
  void Cancel();

  // What Connect handed over; valid after the dialog closed with OK.
  bool Confirmed() const { return confirmed_; }
  const ConnectCheck& Result() const { return result_; }
  const std::vector<RouteRow>& Routes() const { return routes_; }
  int SelectedRoute() const { return selectedRoute_; }
  const TypeBoxes& Boxes() const { return boxes_; }

 private:
  void ShowRows();
  std::wstring SelectedRouteTip() const;

  std::wstring replyPath_;
  CServerChooser& chooser_;
  IPolicyView& view_;
  std::vector<RouteRow> routes_;
  int selectedRoute_ = -1;
  TypeBoxes boxes_;
  bool confirmed_ = false;
  ConnectCheck result_;
};
