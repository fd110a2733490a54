// DLL loading under Wine: with the search restricted, a DLL planted in the
// current folder or in a PATH folder is never loaded by name, and the bind
// module is taken only from beside the executable.
#include <gtest/gtest.h>

#include <string>

#include "accel/bind_module.h"
#include "account/settings.h"
#include "fakes/fake_settings.h"
#include "fakes/temp_dir.h"
#include "platform/dll_search.h"
#include "platform/win32.h"

namespace {

// Any real DLL serves as the planted one: the system's version library.
bool PlantDll(const std::wstring& path) {
  wchar_t system[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  return n > 0 && CopyFileW((std::wstring(system, n) + L"\\version.dll").c_str(), path.c_str(), FALSE);
}

class CScopedSearchPlaces {
 public:
  CScopedSearchPlaces(const std::wstring& current, const std::wstring& path) {
    wchar_t buffer[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, buffer);
    savedCurrent_ = buffer;
    std::vector<wchar_t> old(32768);
    const DWORD n = GetEnvironmentVariableW(L"PATH", old.data(), static_cast<DWORD>(old.size()));
    savedPath_.assign(old.data(), n);
    SetCurrentDirectoryW(current.c_str());
    SetEnvironmentVariableW(L"PATH", (path + L";" + savedPath_).c_str());
  }
  ~CScopedSearchPlaces() {
    SetCurrentDirectoryW(savedCurrent_.c_str());
    SetEnvironmentVariableW(L"PATH", savedPath_.c_str());
  }

 private:
  std::wstring savedCurrent_, savedPath_;
};

struct PlantCase {
  const char* what;
  bool inCurrent;  // planted in the current folder, else in a PATH folder
};

constexpr PlantCase kPlants[] = {{"current folder", true}, {"PATH folder", false}};

// Whether LoadLibraryW(name) finds the planted DLL, for each place.
void ExpectPlantedLoads(bool expected, const char* when) {
  for (const PlantCase& c : kPlants) {
    CTempDir current, onPath;
    const std::wstring name = std::wstring(L"qnplanted") + (c.inCurrent ? L"c" : L"p") + L".dll";
    ASSERT_TRUE(PlantDll((c.inCurrent ? current : onPath).File(name))) << c.what;
    CScopedSearchPlaces places(current.Path().wstring(), onPath.Path().wstring());
    HMODULE module = LoadLibraryW(name.c_str());
    EXPECT_EQ(module != nullptr, expected) << when << ", " << c.what;
    if (module) FreeLibrary(module);
  }
}

// Runs before the search is restricted below, so that only the loader's
// own rule keeps the plants out.
TEST(DllSearch, TheBindModuleIsTakenOnlyFromBesideTheExecutable) {
  CTempDir beside, current, onPath;
  CScopedSettingsPlaces settings({L"", L"", beside.Path().wstring(), L""});
  const std::unique_ptr<IModuleLoader> loader = CreateSystemModuleLoader();
  for (const PlantCase& c : kPlants) {
    ASSERT_TRUE(PlantDll((c.inCurrent ? current : onPath).File(kBindModuleName))) << c.what;
    CScopedSearchPlaces places(current.Path().wstring(), onPath.Path().wstring());
    EXPECT_EQ(loader->Load(kBindModuleName), nullptr) << c.what;
    EXPECT_EQ(RegisterBindModule(*loader), 1) << c.what;
  }
  // Beside the executable it is loaded (a stand-in without the exports
  // counts as missing for registration).
  ASSERT_TRUE(PlantDll(beside.File(kBindModuleName)));
  void* module = loader->Load(kBindModuleName);
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(loader->FindLoaded(kBindModuleName), module);
  EXPECT_EQ(RegisterBindModule(*loader), 1);
  if (module) FreeLibrary(static_cast<HMODULE>(module));
}

TEST(DllSearch, APlantedDllIsLoadedByNameOnlyUntilTheSearchIsRestricted) {
  // Proves the plant is found without the restriction, so that its absence
  // afterwards means something. The restriction holds for the rest of the
  // process, as it does in the client.
  ExpectPlantedLoads(true, "open search");
  EXPECT_TRUE(RestrictDllSearch());
  ExpectPlantedLoads(false, "restricted search");
  // The system's own DLLs still load by name.
  HMODULE system = LoadLibraryW(L"version.dll");
  EXPECT_NE(system, nullptr);
  if (system) FreeLibrary(system);
}

}  // namespace
