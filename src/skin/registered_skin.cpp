#include "skin/registered_skin.h"

#include "skin/skin_attributes.h"

namespace {

std::wstring Lines(std::initializer_list<const wchar_t*> lines) {
  std::wstring s;
  for (const wchar_t* line : lines) s.append(line).push_back(L'\n');
  return s;
}

std::wstring ScrollBarLines(const std::wstring& bar) {
  static const wchar_t* const rows[][2] = {
      {L"LeftUpArrow", L"Down"},         {L"RightDownArrow", L"Down"},
      {L"ThumbBackground", L"Down"},     {L"ThumbHandler", L"Down"},
  };
  std::wstring s;
  for (int k = 0; k < 4; ++k) {
    const std::wstring row = L"," + std::to_wstring(k) + L"/5\n";
    const std::wstring name = bar + rows[k][0];
    s += name + L",0/4" + row;
    s += name + L"Hovered,1/4" + row;
    s += name + rows[k][1] + L",2/4" + row;
  }
  s += bar + L"Background,0/4,4/5\n";
  return s;
}

std::wstring WebButtonLines() {
  static const wchar_t* const names[] = {L"ButtonReg", L"ButtonPurchase", L"ButtonFreeTrial", L"ButtonHelp",
                                         L"ButtonSupport"};
  std::wstring s;
  for (int k = 0; k < 5; ++k) {
    const std::wstring row = L"," + std::to_wstring(k) + L"/5\n";
    s += std::wstring(names[k]) + L",0/3" + row;
    s += std::wstring(names[k]) + L"Hovered,1/3" + row;
    s += std::wstring(names[k]) + L"Pushed,2/3" + row;
  }
  return s;
}

}  // namespace

const std::vector<SkinImageEntry>& RegisteredSkinImages() {
  static const std::vector<SkinImageEntry> images = {
      {162, Lines({L"SystemButtonMinimize,0/4", L"SystemButtonMinimizePushed,2/4", L"SystemButtonMinimizeHovered,1/4"})},
      {163, Lines({L"SystemButtonClose,0/4", L"SystemButtonClosePushed,2/4", L"SystemButtonCloseHovered,1/4"})},
      {167, Lines({L"WindowPictureDlgVpnMain"})},
      {170, Lines({L"WindowPictureTopLeft,0,0,300,47", L"WindowPictureTop,300,0,30,47",
                   L"WindowPictureTopRight,330,0,10,47", L"WindowPictureLeft,0,47,9,14",
                   L"WindowPictureRight,325,47,15,14", L"WindowPictureBottomLeft,0,60,10,11",
                   L"WindowPictureBottom,14,60,100,11", L"WindowPictureBottomRight,325,60,15,11",
                   L"WindowPictureBackground,14,50,5,5"})},
      {161, Lines({L"Button,0/4,0/2", L"ButtonHovered,1/4,0/2", L"ButtonPushed,2/4,0/2", L"ButtonDisabled,3/4,0/2",
                   L"CancelButton,0/4,1/2", L"CancelButtonHovered,1/4,1/2", L"CancelButtonPushed,2/4,1/2",
                   L"CancelButtonDisabled,3/4,1/2"})},
      {192, ScrollBarLines(L"VScrollBar")},
      {191, ScrollBarLines(L"HScrollBar")},
      {169, WebButtonLines()},
      {172, Lines({L"TabButtonLeftInactive,0/4", L"TabButtonMiddleInactive,1/8", L"TabButtonRightInactive,1/4",
                   L"TabButtonLeftActive,2/4", L"TabButtonMiddleActive,5/8", L"TabButtonRightActive,3/4"})},
      {175, Lines({L"HeaderCtrlColumnLeft,0/3", L"HeaderCtrlColumnMiddle,1/3", L"HeaderCtrlColumnRight,2/3"})},
      {176, Lines({L"HeaderPanelTitleLeft,0/3", L"HeaderPanelTitleMiddle,1/3", L"HeaderPanelTitleRight,2/3"})},
      {174, Lines({L"CheckBoxChecked,0/2,0/4", L"CheckBoxCheckedHovered,0/2,1/4", L"CheckBoxCheckedPushed,0/2,2/4",
                   L"CheckBoxCheckedDisabled,0/2,3/4", L"CheckBoxUnchecked,1/2,0/4",
                   L"CheckBoxUncheckedHovered,1/2,1/4", L"CheckBoxUncheckedPushed,1/2,1/4",
                   L"CheckBoxUncheckedDisabled,1/2,0/4", L"CheckBoxIndeterminate,1/2,2/4",
                   L"CheckBoxIndeterminateHovered,1/2,1/4", L"CheckBoxIndeterminatePushed,1/2,2/4",
                   L"CheckBoxIndeterminateDisabled,1/2,0/4"})},
      {178, Lines({L"RadioBoxUnchecked,0/4,0/2", L"RadioBoxUncheckedHovered,1/4,0/2",
                   L"RadioBoxUncheckedPushed,2/4,0/2", L"RadioBoxUncheckedDisabled,3/4,0/2",
                   L"RadioBoxChecked,0/4,1/2", L"RadioBoxCheckedHovered,1/4,1/2", L"RadioBoxCheckedPushed,2/4,1/2",
                   L"RadioBoxCheckedDisabled,3/4,1/2"})},
      {171, Lines({L"FlagChina,0/3", L"FlagAsia,1/3", L"FlagUSA,2/3"})},
      {173, Lines({L"IconConnect,0/2,0/2", L"IconDisconnect,1/2,0/2", L"IconConnectDisabled,0/2,1/2",
                   L"IconDisconnectDisabled,1/2,1/2"})},
      {177, Lines({L"IconVpnPolicyRoute,0/3", L"IconVpnPolicyType,1/3", L"IconVpnPolicyRefresh,2/3"})},
      {179, Lines({L"IconTipInfo,0/1"})},
      {181, Lines({L"IconOnlineUpdate,0/1"})},
      {180, Lines({L"IconSpeedTestGood,0/5", L"IconSpeedTestNormal,1/5", L"IconSpeedTestBad,2/5",
                   L"IconSpeedTestTimeout,3/5", L"IconSpeedTestTesting,4/5"})},
      {193, Lines({L"IconVpnAppStatusActive,0/2", L"IconVpnAppStatusInactive,1/2"})},
  };
  return images;
}

void RegisterSkin(CSkinAttributes& skin) {
  for (const SkinImageEntry& image : RegisteredSkinImages()) skin.RegisterImage(image.resource, image.definition);

  ISkinPlatform& platform = skin.Platform();
  skin.SetObject(L"WindowTitleFont", platform.CreateFont(12, 700, false, L""));
  SkinObject buttonFont = platform.CreateFont(14, 700, false, L"");
  skin.SetObject(L"ButtonFont", buttonFont);
  skin.SetObject(L"CancelButtonFont", buttonFont);
  SkinObject webFont = platform.CreateFont(12, 400, false, L"Tahoma");
  for (const wchar_t* name : {L"ButtonFreeTrialFont", L"ButtonRegFont", L"ButtonPurchaseFont", L"ButtonSupportFont",
                              L"ButtonHelpFont"})
    skin.SetObject(name, webFont);
  skin.SetObject(L"LinkButtonFont", platform.CreateFont(12, 400, false, L""));
  SkinObject underlined = platform.CreateFont(12, 400, true, L"");
  skin.SetObject(L"LinkButtonFontHovered", underlined);
  skin.SetObject(L"LinkButtonFontPushed", underlined);
  skin.SetObject(L"DefaultFont", platform.CreateFont(12, 400, false, L""));

  skin.SetObject(L"CtlColorBrush", platform.CreateSolidBrush(SkinRgb(239, 243, 244)));
  skin.SetObject(L"WhiteBrush", platform.CreateSolidBrush(SkinRgb(255, 255, 255)));
  skin.SetObject(L"BlackBrush", platform.CreateSolidBrush(SkinRgb(0, 0, 0)));
  skin.SetObject(L"WhitePen", platform.CreatePen(SkinRgb(255, 255, 255)));
  skin.SetObject(L"BlackPen", platform.CreatePen(SkinRgb(0, 0, 0)));
  skin.SetObject(L"HeaderPanelBackgroundColorBrush", platform.CreateSolidBrush(SkinRgb(255, 255, 255)));
  skin.SetObject(L"HeaderPanelBorderPen", platform.CreatePen(SkinRgb(150, 166, 172)));
  skin.SetObject(L"ScrollBarBorderPen", platform.CreatePen(SkinRgb(149, 149, 149)));
  skin.SetObject(L"ScrollBarBlockGrayPen", platform.CreatePen(SkinRgb(238, 238, 238)));
  skin.SetObject(L"NullBrush", platform.CreateNullBrush());

  SkinAttributeBlock& global = skin.Global();
  CSkinAttributes::IntRef(global, L"ButtonTextColor") = static_cast<std::int32_t>(SkinRgb(255, 255, 255));
  CSkinAttributes::IntRef(global, L"CancelButtonTextColor") = static_cast<std::int32_t>(SkinRgb(0, 86, 134));
  CSkinAttributes::IntRef(global, L"LinkButtonTextColorHovered") = static_cast<std::int32_t>(SkinRgb(234, 83, 4));
  CSkinAttributes::IntRef(global, L"LinkButtonTextColorPushed") = static_cast<std::int32_t>(SkinRgb(234, 83, 4));
  CSkinAttributes::IntRef(global, L"LinkButtonCursor") = platform.HandCursor();
  CSkinAttributes::SetString(global, L"LinkButtonAlign", L"Left");
}
