#include "win/updater/app/hid_rules.h"

#include <cstdio>

namespace {

// "%X" of a 16-bit id: at most four digits.
struct HexText {
  char text[8];
  explicit HexText(uint16_t value) { std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(value)); }
  std::string_view view() const { return text; }
};

}  // namespace

bool IsKnownRecorderIdentity(uint16_t vendorId, uint16_t productId) {
  if (vendorId != kKnownRecorderVendorId) return false;
  for (uint16_t known : kKnownRecorderProductIds) {
    if (known == kProductIdTableEnd) break;
    if (known == productId) return true;
  }
  return false;
}

bool InstanceIdNamesKnownRecorder(std::string_view instanceId) {
  if (instanceId.find(HexText(kKnownRecorderVendorId).view()) == std::string_view::npos) return false;
  for (uint16_t known : kKnownRecorderProductIds) {
    if (known == kProductIdTableEnd) break;
    if (instanceId.find(HexText(known).view()) != std::string_view::npos) return true;
  }
  return false;
}

std::array<uint8_t, kHidModeReportSize> HidModeReport() {
  std::array<uint8_t, kHidModeReportSize> report{};
  report[0] = 0x00;
  report[1] = 0xE2;
  report[2] = 0x02;
  return report;
}
