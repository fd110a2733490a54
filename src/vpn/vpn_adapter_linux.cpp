#include "vpn/vpn_adapter.h"

std::unique_ptr<IDnsCacheSystem> CreateSystemDnsCache() { return nullptr; }
