// A second pipe server never starts beside a live one on the same name.
#include <gtest/gtest.h>

#include "platform/win32.h"

#include "accel/route_request_pipe_server.h"
#include "fakes/fake_forward_table.h"

TEST(PipeServerTakeover, ASecondServerDoesNotStartBesideALiveOne) {
  const std::wstring name = L"\\\\.\\pipe\\QuillnetTakeoverTest_" + std::to_wstring(::GetCurrentProcessId());
  CFakeForwardTable table;
  SetUpHomeNetwork(table);
  const ForwardRow templ = MakeRow(L"0.0.0.0", L"0.0.0.0", L"10.8.0.6", 7, 6);
  CVpnRouteRequestPipeServer first(table, name);
  ASSERT_TRUE(first.Start(templ));
  CVpnRouteRequestPipeServer second(table, name);
  // The first server's listening instance appears once its thread runs.
  bool refused = false;
  for (int i = 0; i < 500 && !refused; ++i) {
    refused = !second.Start(templ);
    if (!refused) {
      second.Stop();
      ::Sleep(10);
    }
  }
  EXPECT_TRUE(refused);
  first.Stop();
  EXPECT_TRUE(second.Start(templ));
  second.Stop();
}
