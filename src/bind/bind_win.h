// Pieces of QuillnetBind.dll shared between its files.
#pragma once
#include <cstdint>
#include <string>

#include "accel/bind_catalog.h"
#include "accel/bind_rules.h"
#include "platform/file_io.h"
#include "platform/win32.h"
// After <windows.h>.
#include <ws2spi.h>
// After <ws2spi.h>, which defines WSPAPI.
#include <sporder.h>

std::int32_t RegisterInSystemCatalogs(const std::wstring& modulePath);
std::int32_t UnregisterFromSystemCatalogs();
// The record of one native catalog entry, by id or (when given) by provider id.
bool FindInNativeCatalog(std::uint32_t catalogId, const ProviderGuid* providerId, WSAPROTOCOL_INFOW& out);
std::wstring FolderOf(const std::wstring& path);

std::wstring ThisModulePath();
std::wstring AppListFilePath();  // the program data folder's
std::wstring ProgramImagePath();
FileReadResult ReadBoundedFile(const std::wstring& path, const FileIdentity* known, FileIdentity& identity,
                               std::string& bytes, std::uint64_t maxBytes);

// The tunnel record in a named section of the session, readable by every
// program of the user, written only by the client's process.
TunnelState ReadTunnel();
bool PublishTunnel(bool up, std::int32_t version, std::uint32_t localIp);
