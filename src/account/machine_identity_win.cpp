#include "account/machine_identity.h"

#include "platform/win32.h"
// after windows.h
#include <iphlpapi.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace {

void Put32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

class CHandle {
 public:
  explicit CHandle(HANDLE h) : h_(h) {}
  ~CHandle() {
    if (Valid()) CloseHandle(h_);
  }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

HANDLE OpenDevice(const wchar_t* format, int number, DWORD access, DWORD share) {
  wchar_t name[64];
  std::swprintf(name, 64, format, number);
  return CreateFileW(name, access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Control(HANDLE h, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned = nullptr) {
  DWORD got = 0;
  const bool ok = DeviceIoControl(h, code, in, inSize, out, outSize, &got, nullptr) != FALSE;
  if (returned) *returned = got;
  return ok;
}

// Drive control codes and layouts as the drivers define them.
constexpr DWORD kSmartGetVersion = 0x74080;
constexpr DWORD kSmartReceiveDriveData = 0x7C088;
constexpr DWORD kScsiMiniport = 0x4D008;
constexpr DWORD kStorageQueryProperty = 0x2D1400;
constexpr DWORD kMiniportIdentify = 0x1B0501;
constexpr std::size_t kIdentifySize = 512;

// Offsets in the send-command input (after a 4-byte buffer size, the eight
// register bytes, then the drive number).
constexpr std::size_t kFeatures = 4, kSectorCount = 5, kDriveHead = 9, kCommand = 10, kDriveNumber = 12;

class CWindowsMachineInfoSource : public IMachineInfoSource {
 public:
  std::optional<BiosProperties> ReadBios() override {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                         nullptr, EOAC_NONE, nullptr);
    std::optional<BiosProperties> first = QueryFirstInstance(L"Win32_BIOS");
    if (init == S_OK || init == S_FALSE) CoUninitialize();
    return first;
  }

  std::vector<DriveAnswer> ReadDrives() override {
    std::vector<DriveAnswer> answers;
    // 1: SMART identify through the physical drive.
    for (int d = 0; d < 4; ++d) {
      CHandle h(OpenDevice(L"\\\\.\\PhysicalDrive%d", d, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE));
      if (!h.Valid()) continue;
      std::uint8_t version[24] = {};
      Control(h.Get(), kSmartGetVersion, nullptr, 0, version, sizeof version);
      std::uint8_t in[33] = {};
      Put32(in, kIdentifySize);
      in[kFeatures] = 0;
      in[kSectorCount] = 1;
      in[kDriveHead] = (d & 1) ? 0xB0 : 0xA0;
      const std::uint8_t deviceMap = version[3];
      in[kCommand] = ((deviceMap >> d) & 0x10) ? 0xA1 : 0xEC;
      in[kDriveNumber] = static_cast<std::uint8_t>(d);
      std::uint8_t out[528] = {};
      if (Control(h.Get(), kSmartReceiveDriveData, in, 32, out, sizeof out)) {
        answers.push_back(Identify(static_cast<std::size_t>(d), out + 16));
      }
    }
    // 2: the same request in its shortest form, for drivers that want that.
    for (int d = 0; d < 4; ++d) {
      CHandle h(OpenDevice(L"\\\\.\\PhysicalDrive%d", d, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
      if (!h.Valid()) continue;
      std::uint8_t version[24] = {};
      if (!Control(h.Get(), kSmartGetVersion, nullptr, 0, version, sizeof version)) continue;
      std::uint8_t buf[545] = {};
      buf[kCommand] = 0xEC;
      if (Control(h.Get(), kSmartReceiveDriveData, buf, 33, buf, sizeof buf)) {
        answers.push_back(Identify(static_cast<std::size_t>(d), buf + 16));
      }
    }
    // 3: identify through the SCSI miniport of each controller.
    for (int c = 0; c < 16; ++c) {
      CHandle h(OpenDevice(L"\\\\.\\Scsi%d:", c, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
      if (!h.Valid()) continue;
      for (int t = 0; t < 2; ++t) {
        std::uint8_t buf[557] = {};
        Put32(buf, 28);
        std::memcpy(buf + 4, "SCSIDISK", 8);
        Put32(buf + 12, 10000);
        Put32(buf + 16, kMiniportIdentify);
        Put32(buf + 24, 529);
        buf[28 + kCommand] = 0xEC;
        buf[28 + kDriveNumber] = static_cast<std::uint8_t>(t);
        if (Control(h.Get(), kScsiMiniport, buf, 60, buf, sizeof buf) && buf[44 + 54] != 0) {
          answers.push_back(Identify(static_cast<std::size_t>(t), buf + 44));
        }
      }
    }
    // 4: the storage device descriptor.
    for (int d = 0; d < 4; ++d) {
      CHandle h(OpenDevice(L"\\\\.\\PhysicalDrive%d", d, 0, FILE_SHARE_READ | FILE_SHARE_WRITE));
      if (!h.Valid()) continue;
      std::uint8_t query[12] = {};  // device property, standard query
      std::vector<std::uint8_t> out(8192);
      DWORD got = 0;
      if (Control(h.Get(), kStorageQueryProperty, query, sizeof query, out.data(), static_cast<DWORD>(out.size()),
                  &got) &&
          got != 0) {
        out.resize(got);
        DriveAnswer answer;
        answer.kind = DriveAnswer::Kind::DeviceDescriptor;
        answer.index = static_cast<std::size_t>(d);
        answer.bytes = std::move(out);
        answers.push_back(std::move(answer));
      }
    }
    return answers;
  }

  std::optional<std::vector<AdapterRecord>> ReadAdapters() override {
    std::vector<std::uint8_t> buf(648);
    ULONG size = static_cast<ULONG>(buf.size());
    DWORD rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
      try {
        buf.resize(size);
      } catch (const std::bad_alloc&) {
        return std::nullopt;
      }
      rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()), &size);
    }
    if (rc != ERROR_SUCCESS) {
      std::printf("GetAdaptersInfo failed with error: %d\n", static_cast<int>(rc));
      return std::nullopt;
    }
    std::vector<AdapterRecord> adapters;
    for (auto* p = reinterpret_cast<IP_ADAPTER_INFO*>(buf.data()); p; p = p->Next) {
      AdapterRecord record;
      record.type = p->Type;
      record.description.assign(p->Description, strnlen(p->Description, sizeof p->Description));
      const UINT length = p->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH ? p->AddressLength : MAX_ADAPTER_ADDRESS_LENGTH;
      record.address.assign(p->Address, p->Address + length);
      adapters.push_back(std::move(record));
    }
    return adapters;
  }

 private:
  static DriveAnswer Identify(std::size_t index, const std::uint8_t* identify) {
    DriveAnswer answer;
    answer.kind = DriveAnswer::Kind::IdentifyData;
    answer.index = index;
    answer.bytes.assign(identify, identify + kIdentifySize);
    return answer;
  }

  static std::wstring VariantText(const VARIANT& value) {
    if ((value.vt & VT_ARRAY) || value.vt == VT_NULL || value.vt == VT_EMPTY) return {};
    if (value.vt == VT_BSTR) return value.bstrVal ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal)) : L"";
    VARIANT text;
    VariantInit(&text);
    std::wstring out;
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR)) && text.bstrVal) {
      out.assign(text.bstrVal, SysStringLen(text.bstrVal));
    }
    VariantClear(&text);
    return out;
  }

  static BiosProperties ReadProperties(IWbemClassObject* object) {
    BiosProperties props;
    SAFEARRAY* names = nullptr;
    // 0x70: property names of every origin (local, propagated, system).
    if (FAILED(object->GetNames(nullptr, 0x70, nullptr, &names)) || !names) return props;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(names, 1, &low);
    SafeArrayGetUBound(names, 1, &high);
    for (LONG i = low; i <= high; ++i) {
      BSTR name = nullptr;
      if (FAILED(SafeArrayGetElement(names, &i, &name)) || !name) continue;
      VARIANT value;
      VariantInit(&value);
      if (SUCCEEDED(object->Get(name, 0, &value, nullptr, nullptr))) {
        props[std::wstring(name, SysStringLen(name))] = VariantText(value);
      }
      VariantClear(&value);
      SysFreeString(name);
    }
    SafeArrayDestroy(names);
    return props;
  }

  static std::optional<BiosProperties> QueryFirstInstance(const wchar_t* className) {
    std::optional<BiosProperties> first;
    IWbemLocator* locator = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WbemAdministrativeLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator)))) {
      return first;
    }
    IWbemServices* services = nullptr;
    BSTR space = SysAllocString(L"root\\cimv2");
    if (SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services))) {
      BSTR language = SysAllocString(L"WQL");
      BSTR query = SysAllocString((std::wstring(L"Select * from ") + className).c_str());
      IEnumWbemClassObject* results = nullptr;
      if (SUCCEEDED(services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &results))) {
        // Only the first instance counts, so reading stops there.
        IWbemClassObject* object = nullptr;
        ULONG got = 0;
        if (SUCCEEDED(results->Next(WBEM_INFINITE, 1, &object, &got)) && got == 1 && object) {
          first = ReadProperties(object);
          object->Release();
        }
        results->Release();
      }
      SysFreeString(query);
      SysFreeString(language);
      services->Release();
    }
    SysFreeString(space);
    locator->Release();
    return first;
  }
};

}  // namespace

std::unique_ptr<IMachineInfoSource> MakePlatformMachineInfoSource() {
  return std::make_unique<CWindowsMachineInfoSource>();
}
