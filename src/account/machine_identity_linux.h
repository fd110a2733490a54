// The Linux machine information, read from a sysfs tree (tests give their own).
#pragma once
#include <memory>
#include <string>

#include "account/machine_identity.h"

// BIOS from class/dmi/id, drives from block/*/device (those backed by a
// device, in name order), adapters from class/net/* backed by a device, in
// interface index order.
std::unique_ptr<IMachineInfoSource> MakeSysfsMachineInfoSource(const std::string& sysRoot);
