#pragma once
// Which USB devices are recorders of a known kind, and the HID output report that tells one of them
// to present itself as a storage device for the update. Portable: the Windows code only walks the
// devices and asks these rules.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr uint16_t kKnownRecorderVendorId = 0x0C2F;
inline constexpr uint16_t kProductIdTableEnd = 0xFFFF;
// Kept in this order and ended by the marker, as the recorder maker publishes the list.
inline constexpr std::array<uint16_t, 9> kKnownRecorderProductIds = {
    0x0253, 0x0254, 0x0255, 0x0256, 0x026A, 0x026B, 0x026C, 0x026D, kProductIdTableEnd};

// The vendor id is the maker's and the product id one of the table (the end marker is not a product).
bool IsKnownRecorderIdentity(uint16_t vendorId, uint16_t productId);

// A USB instance id names a known recorder when it contains the "%X" text of the vendor id and the
// "%X" text of one of the product ids, each anywhere: "USB\VID_0C2F&PID_0253\..." contains "C2F" and
// "253". The comparison is exact, as the system writes instance ids in capitals.
bool InstanceIdNamesKnownRecorder(std::string_view instanceId);

// Report number 0, then the mode change E2 02, padded with zeros to the recorder's report length.
inline constexpr size_t kHidModeReportSize = 65;
std::array<uint8_t, kHidModeReportSize> HidModeReport();
