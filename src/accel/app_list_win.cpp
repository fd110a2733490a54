#include "accel/app_list.h"
#include "platform/win32.h"
// After <windows.h>.
#include <exdisp.h>
#include <msi.h>
#include <objbase.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlobj.h>

namespace {

constexpr std::size_t kPathBuffer = 520;
// No user interface, no search, no update, no tracking.
constexpr DWORD kResolveFlags = 0xE9;

const CLSID kClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const CLSID kClsidShellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const GUID kSidTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

// COM for the calling thread for the length of one operation, balanced.
class CComScope {
 public:
  CComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~CComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

template <typename T>
class CComRef {
 public:
  CComRef() = default;
  ~CComRef() {
    if (p) p->Release();
  }
  CComRef(const CComRef&) = delete;
  CComRef& operator=(const CComRef&) = delete;
  T* operator->() const { return p; }
  T** Out() { return &p; }
  void** OutVoid() { return reinterpret_cast<void**>(&p); }
  explicit operator bool() const { return p != nullptr; }
  T* p = nullptr;
};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class CMsiShortcuts : public IInstallerShortcuts {
 public:
  bool ResolveAdvertised(const std::wstring& shortcut, std::wstring& target) override {
    using GetTarget = UINT(WINAPI*)(LPCWSTR, LPWSTR, LPWSTR, LPWSTR);
    using GetPath = INSTALLSTATE(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
    static HMODULE msi = LoadLibraryW(L"msi.dll");  // loaded on first need, kept
    if (!msi) return false;
    auto getTarget = reinterpret_cast<GetTarget>(reinterpret_cast<void*>(GetProcAddress(msi, "MsiGetShortcutTargetW")));
    auto getPath = reinterpret_cast<GetPath>(reinterpret_cast<void*>(GetProcAddress(msi, "MsiGetComponentPathW")));
    if (!getTarget || !getPath) return false;
    wchar_t product[39] = {}, feature[MAX_FEATURE_CHARS + 1] = {}, component[39] = {};
    if (getTarget(shortcut.c_str(), product, feature, component) != ERROR_SUCCESS) return false;
    wchar_t path[kPathBuffer] = {};
    DWORD length = kPathBuffer;
    if (getPath(product, component, path, &length) != INSTALLSTATE_LOCAL) return false;
    target = path;
    return true;
  }
};

class CShellShortcutResolver : public IShortcutResolver {
 public:
  explicit CShellShortcutResolver(std::unique_ptr<IInstallerShortcuts> installer) : installer_(std::move(installer)) {}

  bool ResolveShortcutTarget(const std::wstring& shortcut, std::wstring& target) override {
    if (!Exists(shortcut)) return false;
    try {
      if (installer_ && installer_->ResolveAdvertised(shortcut, target)) return true;
    } catch (...) {
      // The installer step did not resolve it; the shell link may.
    }
    CComScope com;
    CComRef<IShellLinkW> link;
    if (FAILED(CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW), link.OutVoid())))
      return false;
    CComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(__uuidof(IPersistFile), file.OutVoid()))) return false;
    if (FAILED(file->Load(shortcut.c_str(), STGM_READ))) return false;
    if (FAILED(link->Resolve(nullptr, kResolveFlags))) return false;
    wchar_t path[kPathBuffer] = {};
    if (FAILED(link->GetPath(path, kPathBuffer, nullptr, SLGP_UNCPRIORITY)) || !Exists(path)) return false;
    target = path;
    return true;
  }

 private:
  std::unique_ptr<IInstallerShortcuts> installer_;
};

class CShellLauncher : public IAppLauncher {
 public:
  bool LaunchThroughDesktopShell(const std::wstring& file) override {
    CComScope com;
    CComRef<IShellWindows> windows;
    if (FAILED(CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_ALL, __uuidof(IShellWindows), windows.OutVoid())))
      return false;
    VARIANT empty;
    VariantInit(&empty);
    long window = 0;
    CComRef<IDispatch> desktop;
    if (windows->FindWindowSW(&empty, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Out()) != S_OK ||
        !desktop)
      return false;
    CComRef<IServiceProvider> services;
    CComRef<IShellBrowser> browser;
    CComRef<IShellView> view;
    CComRef<IDispatch> background;
    CComRef<IShellFolderViewDual> folderView;
    CComRef<IDispatch> application;
    CComRef<IShellDispatch2> shell;
    if (FAILED(desktop->QueryInterface(__uuidof(IServiceProvider), services.OutVoid())) ||
        FAILED(services->QueryService(kSidTopLevelBrowser, __uuidof(IShellBrowser), browser.OutVoid())) ||
        FAILED(browser->QueryActiveShellView(view.Out())) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch), background.OutVoid())) ||
        FAILED(background->QueryInterface(__uuidof(IShellFolderViewDual), folderView.OutVoid())) ||
        FAILED(folderView->get_Application(application.Out())) || !application ||
        FAILED(application->QueryInterface(__uuidof(IShellDispatch2), shell.OutVoid())))
      return false;
    BSTR name = SysAllocStringLen(file.data(), static_cast<UINT>(file.size()));
    if (!name) return false;
    VARIANT arguments, directory, verb, show;
    for (VARIANT* v : {&arguments, &directory, &verb}) {
      VariantInit(v);
      v->vt = VT_BSTR;
      v->bstrVal = SysAllocString(L"");
    }
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    const HRESULT hr = shell->ShellExecute(name, arguments, directory, verb, show);
    SysFreeString(name);
    for (VARIANT* v : {&arguments, &directory, &verb}) VariantClear(v);
    return SUCCEEDED(hr);
  }

  bool LaunchDirect(void* owner, const std::wstring& file) override {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(static_cast<HWND>(owner), nullptr, file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
  }
};

class CShellImageList : public ISystemImageList {
 public:
  int ImageIndexFor(const std::wstring& fileName) override {
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(fileName.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                        SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES | SHGFI_SMALLICON))
      return 0;
    return info.iIcon;
  }
};

}  // namespace

std::unique_ptr<IInstallerShortcuts> CreateSystemInstallerShortcuts() { return std::make_unique<CMsiShortcuts>(); }

std::unique_ptr<IShortcutResolver> CreateShellShortcutResolver(std::unique_ptr<IInstallerShortcuts> installer) {
  return std::make_unique<CShellShortcutResolver>(std::move(installer));
}

std::unique_ptr<IShortcutResolver> CreateSystemShortcutResolver() {
  return CreateShellShortcutResolver(CreateSystemInstallerShortcuts());
}
std::unique_ptr<IAppLauncher> CreateSystemAppLauncher() { return std::make_unique<CShellLauncher>(); }
std::unique_ptr<ISystemImageList> CreateSystemImageList() { return std::make_unique<CShellImageList>(); }
