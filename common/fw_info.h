#pragma once
// The firmware entries of a bundle configuration ("FIRMWARE", "FIRMWARE2", ...) and how a recorder
// finds its entry. The profile file itself is read by the platform; ProfileReader is the seam.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/fw_version.h"

// Reads a private-profile (INI) file with the platform's semantics: section and key names match
// regardless of letter case, values come trimmed, a missing key gives the default.
class ProfileReader {
 public:
  virtual ~ProfileReader() = default;
  virtual std::vector<std::string> SectionNames() const = 0;
  // The leading decimal digits of the value, as the platform's integer reader gives them.
  virtual uint32_t GetInt(std::string_view section, std::string_view key, uint32_t fallback) const = 0;
  virtual std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const = 0;
};

class CFwUpBaseFwInfo {
 public:
  virtual ~CFwUpBaseFwInfo() = default;

  int32_t StartAddress = 0;
  int32_t Length = 0;
  std::string Model;
  uint16_t DeviceID = 0;
  bool IsSubTarget = false;
  FwVersion Version;
  uint16_t IsPenwave = 0;
  uint16_t IsFactory = 0;
  int32_t StorageCheck = 0;
  uint64_t StorageSize = 0;
  uint16_t ResourceId = 0;
};

using FwInfoArray = std::vector<std::unique_ptr<CFwUpBaseFwInfo>>;

inline constexpr uint16_t kFirstFirmwareResourceId = 250;

// "FIRMWARE" for index 0, "FIRMWARE2" for index 1, ...
std::string FirmwareSectionName(size_t index);

// One record per consecutive firmware section, and one made of defaults when there is none.
FwInfoArray LoadFwInfos(const ProfileReader& profile);

// The entry for a recorder's device id; the first entry when none serves it; null only when empty.
const CFwUpBaseFwInfo* FindFwInfo(const FwInfoArray& infos, uint16_t deviceId);
