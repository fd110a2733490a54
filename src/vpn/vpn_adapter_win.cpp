#include "platform/win32.h"
#include "vpn/vpn_adapter.h"

namespace {

using FlushFn = BOOL(WINAPI*)();

class CWin32ResolverLibrary : public IResolverLibrary {
 public:
  explicit CWin32ResolverLibrary(HMODULE module) : module_(module) {}
  ~CWin32ResolverLibrary() override { ::FreeLibrary(module_); }
  std::optional<std::int32_t> Flush() override {
    // Looked up rather than imported: the i686 import library decorates it
    // wrongly.
    auto flush = reinterpret_cast<FlushFn>(reinterpret_cast<void*>(::GetProcAddress(module_, "DnsFlushResolverCache")));
    if (!flush) return std::nullopt;
    return static_cast<std::int32_t>(flush());
  }

 private:
  HMODULE module_;
};

class CWin32DnsCache : public IDnsCacheSystem {
 public:
  std::unique_ptr<IResolverLibrary> LoadResolver() override {
    HMODULE module = ::LoadLibraryW(L"dnsapi.dll");
    if (!module) return nullptr;
    return std::make_unique<CWin32ResolverLibrary>(module);
  }
  void RunFlushCommand() override { ::WinExec("ipconfig /flushdns", SW_HIDE); }
};

}  // namespace

std::unique_ptr<IDnsCacheSystem> CreateSystemDnsCache() { return std::make_unique<CWin32DnsCache>(); }
