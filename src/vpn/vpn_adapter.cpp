#include "vpn/vpn_adapter.h"

#include <algorithm>
#include <cwctype>

#include "text/text_table.h"

namespace {

// Stops a key that keeps failing (deleted while we enumerate) from looping.
constexpr std::uint32_t kMaxSubkeys = 65536;

bool IsWanBinding(const std::wstring& name) {
  const std::wstring_view wan = kWanBindingName;
  return name.size() == wan.size() && std::equal(name.begin(), name.end(), wan.begin(), [](wchar_t a, wchar_t b) {
           return std::towlower(static_cast<wint_t>(a)) == std::towlower(static_cast<wint_t>(b));
         });
}

}  // namespace

std::vector<std::wstring> PutWanBindingFirst(const std::vector<std::wstring>& bindings) {
  std::vector<std::wstring> result{kWanBindingName};
  for (const std::wstring& b : bindings) {
    if (!IsWanBinding(b)) result.push_back(b);
  }
  return result;
}

void PutVpnBindingFirst(IMachineRegistry& registry, std::optional<std::uint32_t> majorVersion) {
  if (!majorVersion) return;
  std::unique_ptr<IRegistryKey> key = registry.Open(kTcpipLinkageKey);
  if (!key) return;
  std::vector<std::wstring> bindings;
  if (key->ReadBindList(bindings) != 0) return;
  if (*majorVersion == 5) key->WriteBindList(PutWanBindingFirst(bindings));
}

std::int32_t FlushDnsCache(IDnsCacheSystem& system) {
  std::unique_ptr<IResolverLibrary> library = system.LoadResolver();
  if (!library) return 0;
  const std::int32_t result = library->Flush().value_or(0);
  library.reset();
  system.RunFlushCommand();
  return result;
}

bool HoldsVpnAddress(const std::optional<std::wstring>& dhcpAddress, const std::wstring& localIp) {
  // An interface without a lease must not match a connection without an
  // address.
  return dhcpAddress && !localIp.empty() && *dhcpAddress == localIp;
}

bool MustDisableDhcp(const InterfaceDhcp& values, const std::wstring& localIp) {
  return HoldsVpnAddress(values.dhcpAddress, localIp) && values.enableDhcp && *values.enableDhcp != 0;
}

int DisableDhcpOnVpnAdapter(IMachineRegistry& registry, IDhcpWarningView& view, const std::wstring& localIp) {
  std::unique_ptr<IRegistryKey> interfaces = registry.Open(kTcpipInterfacesKey);
  if (!interfaces) return 0;
  int acted = 0;
  for (std::uint32_t index = 0; index < kMaxSubkeys; ++index) {
    std::wstring name;
    const RegistryStatus rc = interfaces->EnumSubkey(index, name);
    if (rc == kRegistryNoMoreItems) break;
    if (rc != 0) continue;
    std::unique_ptr<IRegistryKey> key = registry.Open(std::wstring(kTcpipInterfacesKey) + L"\\" + name);
    if (!key) continue;
    InterfaceDhcp values;
    std::wstring address;
    if (key->ReadDhcpAddress(address) == 0) values.dhcpAddress = address;
    if (!HoldsVpnAddress(values.dhcpAddress, localIp)) continue;
    std::uint32_t enable = 0;
    if (key->ReadDword(L"EnableDHCP", enable) == 0) values.enableDhcp = enable;
    if (!MustDisableDhcp(values, localIp)) continue;
    key->WriteDword(L"EnableDHCP", 0);
    ++acted;
    view.ShowDhcpWarning(GetText("DHCPOnVPNDetected"));
    view.EndConnection();
  }
  return acted;
}
