// The route plan's vocabulary: route modes and route entries. The plan
// itself runs inside CGeneralVpn (ApplyRoutePlan when a connection is up,
// RestoreRoutePlan when it is stopped); see route_plan.cpp.
#pragma once
#include <cstdint>
#include <string>

constexpr std::int32_t RouteModeNone = 0;
// The VPN is the default gateway; listed networks and the proxy go around it.
constexpr std::int32_t RouteModeDefaultGateway = 1;
// Only listed networks and the VPN's DNS servers go through the VPN.
constexpr std::int32_t RouteModeListedRoutes = 2;
// Host routes through the VPN on request of the applications' bind module.
constexpr std::int32_t RouteModePerApplication = 3;

// Splits a route entry ("10.0.0.0 mask 255.0.0.0" or "10.0.0.0/8", any case)
// into destination and mask texts. False when neither form is there; a
// prefix length outside 1..32 gives an empty mask. Only entries with both
// texts non-empty become routes.
bool ParseRouteEntry(const std::wstring& entry, std::wstring& destination, std::wstring& mask);
