// What Windows tells about its serial ports: the registry's table of
// serial ports (HARDWARE\DEVICEMAP\SERIALCOMM), the meaning of a failed
// open, and the USB adapter behind a COM port through SetupAPI.
#include "platform/port_facts.h"
#include "platform/win32_text.h"

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cwctype>

namespace vorsal::platform {

namespace {

// "COM5" for "\\.\COM5" or "COM5", upper-cased.
std::wstring PortNameOf(const std::string& devicePath) {
  std::wstring name = WideFromUtf8(devicePath);
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return name;
}

std::wstring RegistryText(HKEY key, const wchar_t* value) {
  wchar_t buffer[512] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  DWORD type = 0;
  if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return std::wstring(buffer);
}

std::wstring DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  wchar_t buffer[1024] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr)) {
    return {};
  }
  return std::wstring(buffer);  // the first of a multi-string
}

// The four hex digits after `tag` ("VID_") in a hardware id, "" when none.
std::string IdAfter(const std::wstring& hardwareId, const wchar_t* tag) {
  std::wstring upper = hardwareId;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  const std::size_t at = upper.find(tag);
  if (at == std::wstring::npos || at + 4 + 4 > upper.size()) return {};
  std::string id = Utf8FromWide(upper.substr(at + 4, 4));
  std::transform(id.begin(), id.end(), id.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return id;
}

}  // namespace

std::vector<std::string> SystemPortNames(const std::string&) {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t valueName[256];
    DWORD valueNameSize = 256;
    wchar_t data[256] = {};
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result = ::RegEnumValueW(key, index, valueName, &valueNameSize, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    if (data[0] != L'\0') names.push_back(Utf8FromWide(data));
  }
  ::RegCloseKey(key);
  return names;
}

// Windows tells no one which process holds a COM port.
std::vector<PortHolder> FindPortHolders(const std::string&) { return {}; }

PortOpenDiagnosis DiagnosePortOpen(const std::string& devicePath, int systemCode) {
  PortOpenDiagnosis diagnosis;
  diagnosis.devicePath = devicePath;
  diagnosis.systemCode = systemCode;
  diagnosis.deviceExists = systemCode != ERROR_FILE_NOT_FOUND && systemCode != ERROR_PATH_NOT_FOUND;
  // A COM port is opened by one program at a time; Windows refuses the
  // second with "access denied" (or a sharing violation).
  diagnosis.busy = systemCode == ERROR_ACCESS_DENIED || systemCode == ERROR_SHARING_VIOLATION ||
                   systemCode == ERROR_BUSY;
  return diagnosis;
}

UsbIdentity ReadUsbIdentity(const std::string& devicePath, const std::string&, const std::string&) {
  UsbIdentity identity;
  const std::wstring port = PortNameOf(devicePath);
  const HDEVINFO devices = ::SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (devices == INVALID_HANDLE_VALUE) return identity;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    const HKEY key = ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    std::wstring name = RegistryText(key, L"PortName");
    ::RegCloseKey(key);
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    if (name != port) continue;

    const std::wstring hardwareId = DeviceProperty(devices, device, SPDRP_HARDWAREID);
    identity.vendorId = IdAfter(hardwareId, L"VID_");
    identity.productId = IdAfter(hardwareId, L"PID_");
    identity.manufacturer = Utf8FromWide(DeviceProperty(devices, device, SPDRP_MFG));
    identity.product = Utf8FromWide(DeviceProperty(devices, device, SPDRP_FRIENDLYNAME));
    // The serial number is the last part of the USB device's instance id;
    // for an adapter with several functions that device is the parent.
    DEVINST instance = device.DevInst;
    for (int level = 0; level < 2; ++level) {
      wchar_t id[MAX_DEVICE_ID_LEN] = {};
      if (::CM_Get_Device_IDW(instance, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) break;
      const std::wstring text(id);
      if (text.rfind(L"USB\\", 0) == 0 && text.find(L"&MI_") == std::wstring::npos) {
        const std::wstring serial = text.substr(text.find_last_of(L'\\') + 1);
        // Windows makes up an id with '&' for devices without a serial number.
        if (serial.find(L'&') == std::wstring::npos) identity.serial = Utf8FromWide(serial);
        break;
      }
      DEVINST parent = 0;
      if (::CM_Get_Parent(&parent, instance, 0) != CR_SUCCESS) break;
      instance = parent;
    }
    break;
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return identity;
}

}  // namespace vorsal::platform
