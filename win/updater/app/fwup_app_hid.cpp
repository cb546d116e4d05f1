// The HID mode command: a recorder of a known kind that comes up as a HID device switches to storage
// mode when it gets the report, and only then can be updated.

#include <windows.h>
#include <hidsdi.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "win/framework/handles.h"
#include "win/updater/app/fwup_app.h"
#include "win/updater/app/hid_rules.h"

namespace {

// The USB device setup class (not the interface class): every USB device node is a member.
constexpr GUID kUsbDeviceClass = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

constexpr DWORD kInstanceIdBufferSize = 4000;

// The system says how large the detail record is only when asked without a buffer.
std::string DevicePath(HDEVINFO interfaces, SP_DEVICE_INTERFACE_DATA& interfaceData) {
  DWORD needed = 0;
  SetupDiGetDeviceInterfaceDetailA(interfaces, &interfaceData, nullptr, 0, &needed, nullptr);
  if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return {};

  std::vector<unsigned char> buffer(needed);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(interfaces, &interfaceData, detail, needed, nullptr, nullptr)) return {};
  const size_t room = needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  return std::string(detail->DevicePath, strnlen(detail->DevicePath, room));
}

}  // namespace

bool CFwUpBaseApp::IsKnownRecorderPresent() const {
  // Once told, the recorder leaves HID mode; asking again before the next arrival would only resend.
  if (HidCommandSent) return false;

  win::ScopedDeviceInfoList devices(
      SetupDiGetClassDevsA(&kUsbDeviceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_PROFILE));
  if (!devices) return false;

  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    // The walk ends at the first index the system cannot give, which normally means no more items.
    if (!SetupDiEnumDeviceInfo(devices.get(), index, &device)) break;
    char instanceId[kInstanceIdBufferSize];
    if (!SetupDiGetDeviceInstanceIdA(devices.get(), &device, instanceId, sizeof instanceId, nullptr)) continue;
    if (InstanceIdNamesKnownRecorder(std::string_view(instanceId, strnlen(instanceId, sizeof instanceId)))) {
      return true;
    }
  }
  return false;
}

bool CFwUpBaseApp::SendHidModeCommand() {
  if (HidCommandSent) return false;

  // Loaded at run time: systems without the HID library still run the updater.
  win::ScopedModule hid = win::LoadSystemLibrary("HID.DLL");
  if (!hid) return false;
  const auto getHidGuid = win::BindExport<decltype(&HidD_GetHidGuid)>(hid.get(), "HidD_GetHidGuid");
  const auto getAttributes = win::BindExport<decltype(&HidD_GetAttributes)>(hid.get(), "HidD_GetAttributes");
  if (!getHidGuid || !getAttributes) return false;

  GUID hidClass{};
  getHidGuid(&hidClass);
  // Declared after the library, so it is released before the library goes.
  win::ScopedDeviceInfoList interfaces(
      SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!interfaces) return false;

  const auto report = HidModeReport();
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    if (!SetupDiEnumDeviceInterfaces(interfaces.get(), nullptr, &hidClass, index, &interfaceData)) break;

    const std::string path = DevicePath(interfaces.get(), interfaceData);
    if (path.empty()) continue;
    win::ScopedHandle device(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device) continue;

    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (!getAttributes(device.get(), &attributes)) continue;
    if (!IsKnownRecorderIdentity(attributes.VendorID, attributes.ProductID)) continue;

    DWORD written = 0;
    if (WriteFile(device.get(), report.data(), static_cast<DWORD>(report.size()), &written, nullptr) && written > 0) {
      HidCommandSent = true;
      return true;
    }
  }
  return false;
}
