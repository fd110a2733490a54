// The Winsock catalogs behind IProviderCatalog: the native one, and on
// 64-bit Windows the 32-bit one, which has no install call of its own.
#include "bind/bind_win.h"

#include <cstring>

namespace {

CatalogEntry FromInfo(const WSAPROTOCOL_INFOW& info) {
  CatalogEntry e;
  e.catalogId = info.dwCatalogEntryId;
  std::memcpy(e.providerId.data(), &info.ProviderId, 16);
  e.addressFamily = info.iAddressFamily;
  e.socketType = info.iSocketType;
  e.protocol = info.iProtocol;
  e.chainLength = info.ProtocolChain.ChainLen;
  for (int i = 0; i < info.ProtocolChain.ChainLen && i < MAX_PROTOCOL_CHAIN; ++i)
    e.chain.push_back(info.ProtocolChain.ChainEntries[i]);
  e.name = info.szProtocol;
  e.platformRecord.resize(sizeof info);
  std::memcpy(e.platformRecord.data(), &info, sizeof info);
  return e;
}

bool ToInfo(const CatalogEntry& e, WSAPROTOCOL_INFOW& info) {
  if (e.platformRecord.size() != sizeof info || e.chain.size() > MAX_PROTOCOL_CHAIN) return false;
  std::memcpy(&info, e.platformRecord.data(), sizeof info);
  std::memcpy(&info.ProviderId, e.providerId.data(), 16);
  info.ProtocolChain.ChainLen = e.chainLength;
  for (std::size_t i = 0; i < e.chain.size(); ++i) info.ProtocolChain.ChainEntries[i] = e.chain[i];
  if (e.chainLength == 0) info.dwProviderFlags |= PFL_HIDDEN;
  const std::size_t n = std::min<std::size_t>(e.name.size(), WSAPROTOCOL_LEN);
  std::wmemcpy(info.szProtocol, e.name.c_str(), n);
  info.szProtocol[n] = 0;
  return true;
}

using EnumFunction = int(WSPAPI*)(LPINT, LPWSAPROTOCOL_INFOW, LPDWORD, LPINT);

bool EnumerateWith(EnumFunction enumerate, std::vector<CatalogEntry>& entries) {
  DWORD length = 0;
  int error = 0;
  enumerate(nullptr, nullptr, &length, &error);
  for (int attempt = 0; attempt < 3 && length; ++attempt) {
    std::vector<unsigned char> buffer(length);
    auto* infos = reinterpret_cast<WSAPROTOCOL_INFOW*>(buffer.data());
    const int n = enumerate(nullptr, infos, &length, &error);
    if (n == SOCKET_ERROR) {
      if (error == WSAENOBUFS) continue;  // the catalog grew meanwhile
      return false;
    }
    entries.clear();
    for (int i = 0; i < n; ++i) entries.push_back(FromInfo(infos[i]));
    return true;
  }
  return false;
}

std::vector<WSAPROTOCOL_INFOW> Infos(const std::vector<CatalogEntry>& entries, bool& ok) {
  std::vector<WSAPROTOCOL_INFOW> infos(entries.size());
  ok = true;
  for (std::size_t i = 0; i < entries.size(); ++i) ok = ToInfo(entries[i], infos[i]) && ok;
  return infos;
}

using InstallFunction = int(WSPAPI*)(LPGUID, const WCHAR*, const LPWSAPROTOCOL_INFOW, DWORD, LPINT);
using DeinstallFunction = int(WSPAPI*)(LPGUID, LPINT);
using OrderFunction = int(WSPAPI*)(LPDWORD, DWORD);

// One catalog by its four system calls. `nativeCopy` is taken out again
// after an install that also wrote the native catalog.
class CSystemCatalog : public IProviderCatalog {
 public:
  CSystemCatalog(EnumFunction enumerate, InstallFunction install, DeinstallFunction deinstall, OrderFunction order,
                 DeinstallFunction nativeCopy = nullptr)
      : enumerate_(enumerate), install_(install), deinstall_(deinstall), order_(order), nativeCopy_(nativeCopy) {}

  bool Enumerate(std::vector<CatalogEntry>& entries) override { return EnumerateWith(enumerate_, entries); }
  bool Install(const ProviderGuid& id, const std::wstring& path, const std::vector<CatalogEntry>& entries) override {
    bool ok = false;
    std::vector<WSAPROTOCOL_INFOW> infos = Infos(entries, ok);
    if (!ok) return false;
    GUID guid = ToGuid(id);
    int error = 0;
    if (install_(&guid, path.c_str(), infos.data(), static_cast<DWORD>(infos.size()), &error) != 0) return false;
    if (nativeCopy_) nativeCopy_(&guid, &error);
    return true;
  }
  bool Deinstall(const ProviderGuid& id) override {
    GUID guid = ToGuid(id);
    int error = 0;
    return deinstall_(&guid, &error) == 0;
  }
  bool WriteOrder(const std::vector<std::uint32_t>& ids) override {
    std::vector<DWORD> order(ids.begin(), ids.end());
    return order_(order.data(), static_cast<DWORD>(order.size())) == 0;
  }

 private:
  static GUID ToGuid(const ProviderGuid& id) {
    GUID guid;
    std::memcpy(&guid, id.data(), 16);
    return guid;
  }
  EnumFunction enumerate_;
  InstallFunction install_;
  DeinstallFunction deinstall_;
  OrderFunction order_;
  DeinstallFunction nativeCopy_;
};

CSystemCatalog NativeCatalog() {
  return CSystemCatalog(&WSCEnumProtocols, &WSCInstallProvider, &WSCDeinstallProvider, &WSCWriteProviderOrder);
}

#ifdef _WIN64
// The 32-bit catalog of a 64-bit system. Installing into it alone is done
// by installing into both and taking the native copy out again.
CSystemCatalog Wow32Catalog() {
  return CSystemCatalog(&WSCEnumProtocols32, &WSCInstallProvider64_32, &WSCDeinstallProvider32,
                        &WSCWriteProviderOrder32, &WSCDeinstallProvider);
}

// The 32-bit module that 32-bit programs load, beside ours; empty when absent.
std::wstring Module32Path(const std::wstring& modulePath) {
  const std::wstring path = FolderOf(modulePath) + L"x86\\QuillnetBind.dll";
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? path : std::wstring();
}
#endif

}  // namespace

std::int32_t RegisterInSystemCatalogs(const std::wstring& modulePath) {
  CSystemCatalog native = NativeCatalog();
#ifdef _WIN64
  // 32-bit programs need the 32-bit module; without it the 32-bit catalog
  // is not touched at all (Wine, for one, has no 32-bit catalog functions).
  CSystemCatalog wow = Wow32Catalog();
  const std::wstring module32 = Module32Path(modulePath);
  return RegisterBindProviders(native, modulePath, module32.empty() ? nullptr : &wow, module32);
#else
  return RegisterBindProviders(native, modulePath, nullptr, {});
#endif
}

std::int32_t UnregisterFromSystemCatalogs() {
  CSystemCatalog native = NativeCatalog();
#ifdef _WIN64
  CSystemCatalog wow = Wow32Catalog();
  // Without the 32-bit module the 32-bit catalog is left alone: Wine, for
  // one, aborts a program that calls its catalog functions.
  return UnregisterBindProviders(native, Module32Path(ThisModulePath()).empty() ? nullptr : &wow);
#else
  return UnregisterBindProviders(native, nullptr);
#endif
}

bool FindInNativeCatalog(std::uint32_t catalogId, const ProviderGuid* providerId, WSAPROTOCOL_INFOW& out) {
  std::vector<CatalogEntry> entries;
  if (!EnumerateWith(&WSCEnumProtocols, entries)) return false;
  for (const CatalogEntry& e : entries) {
    if (providerId ? e.providerId != *providerId : e.catalogId != catalogId) continue;
    std::memcpy(&out, e.platformRecord.data(), sizeof out);
    return true;
  }
  return false;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}
