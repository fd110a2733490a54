#include "app/module_version.h"

#include "platform/win32.h"

#include <cstdio>

namespace {
constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;
}

bool CModuleVersion::LoadVersion(const wchar_t* module) {
  loaded_ = false;
  fileVersionMs_ = fileVersionLs_ = 0;
  block_.clear();
  language_ = 0;
  codePage_ = 1252;

  HMODULE handle = module ? ::GetModuleHandleW(module) : ::GetModuleHandleW(nullptr);
  if (!handle) return false;
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(handle, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;

  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return false;
  block_.assign(size, 0);
  if (!::GetFileVersionInfoW(path, 0, size, block_.data())) return false;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!::VerQueryValueW(block_.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
      fixedSize < sizeof(VS_FIXEDFILEINFO))
    return false;
  fileVersionMs_ = fixed->dwFileVersionMS;
  fileVersionLs_ = fixed->dwFileVersionLS;

  WORD* translation = nullptr;
  UINT translationSize = 0;
  if (::VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                       &translationSize) &&
      translation && translationSize >= 4) {
    language_ = translation[0];
    codePage_ = translation[1];
  }
  loaded_ = fixed->dwSignature == kFixedInfoSignature;
  return loaded_;
}

std::uint64_t CModuleVersion::FileVersion() const {
  if (!loaded_) return 0;
  return (static_cast<std::uint64_t>(fileVersionMs_) << 32) | fileVersionLs_;
}

std::wstring CModuleVersion::GetValue(std::wstring_view name) const {
  if (!loaded_ || block_.empty()) return {};
  wchar_t prefix[40];
  std::swprintf(prefix, 40, L"\\StringFileInfo\\%04x%04x\\", language_, codePage_);
  const std::wstring query = prefix + std::wstring(name);
  wchar_t* value = nullptr;
  UINT chars = 0;
  // VerQueryValueW wants a writable block pointer but does not change it.
  void* block = const_cast<std::uint8_t*>(block_.data());
  if (!::VerQueryValueW(block, query.c_str(), reinterpret_cast<void**>(&value), &chars) || !value || chars == 0)
    return {};
  std::wstring out(value, chars);
  while (!out.empty() && out.back() == L'\0') out.pop_back();
  return out;
}
