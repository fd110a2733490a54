#include "platform/system_version.h"
#include "vpn/l2tp_system.h"

CSystemL2tp::CSystemL2tp()
    : registry_(CreateSystemMachineRegistry()),
      services_(CreateSystemServiceControl()),
      processes_(CreateSystemProcessControl()),
      privileges_(CreateSystemPrivileges()),
      power_(CreateSystemPower()),
      system_(std::make_unique<L2tpSystem>(L2tpSystem{*registry_, *services_, *processes_, *privileges_, *power_,
                                                      SystemClock(), SystemMajorVersion().value_or(0)})) {}

CSystemL2tp::~CSystemL2tp() = default;
