// A fresh folder per test, removed with everything in it afterwards.
#pragma once
#include <filesystem>
#include <string>

class CTempDir {
 public:
  CTempDir();
  ~CTempDir();
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return (path_ / name).wstring(); }
  // Writes bytes as they are (no line-end translation).
  std::wstring Write(const std::wstring& name, const std::string& bytes) const;
  std::string Read(const std::wstring& name) const;

 private:
  std::filesystem::path path_;
};
