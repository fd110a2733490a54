// The bind module's four exports as both sides see them. On 32-bit Windows
// they are stdcall; the module's .def file keeps their names undecorated.
#pragma once
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define QUILLNET_BIND_CALL __stdcall
#else
#define QUILLNET_BIND_CALL
#endif

using BindRegisterFunction = std::int32_t(QUILLNET_BIND_CALL*)();
using BindStartFunction = std::int32_t(QUILLNET_BIND_CALL*)(std::int32_t version, std::uint32_t localIp);
using BindStopFunction = std::int32_t(QUILLNET_BIND_CALL*)();

inline constexpr char kBindRegisterExport[] = "DllRegisterServer";
inline constexpr char kBindUnregisterExport[] = "DllUnregisterServer";
inline constexpr char kBindStartExport[] = "VpnBindStart";
inline constexpr char kBindStopExport[] = "VpnBindStop";

// Windows, for tests: the catalog the provider's start-up reads instead of
// the system's, as a lookup by catalog id or (when `providerId` is given, a
// GUID) by provider. It fills `protocolInfo` (a WSAPROTOCOL_INFOW) and the
// entry's module path, and returns nonzero when found. Only code already
// running inside a program can call it, and it changes nothing beyond that
// program's own copy of the module: nothing is read from the environment,
// the registry or a file.
using BindCatalogLookup = int(QUILLNET_BIND_CALL*)(std::uint32_t catalogId, const void* providerId,
                                                   void* protocolInfo, wchar_t* path, int pathChars);
using BindUseCatalogFunction = void(QUILLNET_BIND_CALL*)(BindCatalogLookup lookup);
inline constexpr char kBindUseCatalogExport[] = "QuillnetBindUseCatalog";

// Windows, for tests: the route request pipe and the application list this
// copy of the module uses instead of the product's, set before its first
// connect. Like the catalog seam, only code already inside the program can
// use it: the module reads nothing of the kind from the environment, which
// any parent hands down to every program it starts.
using BindUsePlacesFunction = void(QUILLNET_BIND_CALL*)(const wchar_t* pipeName, const wchar_t* listPath);
inline constexpr char kBindUsePlacesExport[] = "QuillnetBindUsePlaces";

// Windows: the session's named section where VpnBindStart publishes the tunnel.
inline constexpr wchar_t kBindTunnelSectionName[] =
    L"Local\\QuillnetBindTunnel_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";
