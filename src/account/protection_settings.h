// The user's choices about traffic outside the tunnel and drops, kept with
// the other settings. Each is on unless the user turned it off: a value we
// cannot read keeps the protection.
#pragma once

struct ProtectionSettings {
  bool leakProtection = true;     // block what would go around the tunnel
  bool allowLocalNetwork = true;  // the LAN stays reachable while blocked
  bool reconnect = true;          // a dropped tunnel comes back by itself
};

ProtectionSettings ReadProtectionSettings();
void WriteProtectionSettings(const ProtectionSettings& settings);
