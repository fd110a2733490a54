#include "vpn/ras_api.h"

std::unique_ptr<IRasApi> CreateSystemRasApi() { return nullptr; }
