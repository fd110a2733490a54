// The Windows adapter check end to end on a system without the component:
// openvpn cannot run, so no adapter is listed and the check fails quietly.
#include <gtest/gtest.h>

#include "fakes/temp_dir.h"
#include "vpn/tap_driver.h"

TEST(WindowsTapAdapter, NoComponentMeansNotReady) {
  CTempDir dir;
  EXPECT_FALSE(CheckOpenVpnComponent(dir.Path().wstring() + L"\\"));
  EXPECT_FALSE(IsTapAdapterReady());
}
