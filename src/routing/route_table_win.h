// The IP helper calls behind the Windows forwarding table. Wine only stubs
// the calls that change the table, so tests put a stand-in here that holds
// every row to what the real system accepts.
#pragma once
#include "platform/win32.h"
// The IP helper headers need <windows.h> and <winsock2.h> first.
#include <iphlpapi.h>

#include <memory>
#include <vector>

#include "routing/route_table.h"

class IIpHelper {
 public:
  virtual ~IIpHelper() = default;
  virtual DWORD GetIpForwardTable(PMIB_IPFORWARDTABLE table, PULONG size, BOOL order) = 0;
  virtual DWORD CreateIpForwardEntry(PMIB_IPFORWARDROW row) = 0;
  virtual DWORD DeleteIpForwardEntry(PMIB_IPFORWARDROW row) = 0;
  virtual DWORD GetAdaptersInfo(PIP_ADAPTER_INFO info, PULONG size) = 0;
  // False when the system has no per-interface table (before Vista).
  virtual bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) = 0;
};

// The process's own IP helper library.
IIpHelper& SystemIpHelper();
// `helper` outlives the table.
std::unique_ptr<IForwardTable> CreateWinForwardTable(IIpHelper& helper);
