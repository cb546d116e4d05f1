#include "common/fw_info.h"

#include <unordered_set>

#include "common/text_scan.h"

std::string FirmwareSectionName(size_t index) {
  return index == 0 ? std::string("FIRMWARE") : "FIRMWARE" + std::to_string(index + 1);
}

namespace {

void FillRecord(const ProfileReader& profile, const std::string& section, CFwUpBaseFwInfo& info) {
  info.StartAddress = static_cast<int32_t>(profile.GetInt(section, "StartAddress", 0));
  info.Length = static_cast<int32_t>(profile.GetInt(section, "Length", 0));
  info.Model = profile.GetString(section, "Model", "");
  info.DeviceID = static_cast<uint16_t>(profile.GetInt(section, "DeviceID", 0));
  // The words are compared exactly: "sub" or "Factory" are not the special values.
  info.IsSubTarget = profile.GetString(section, "Traget", "MAIN") == "SUB";
  info.Version = ParseVersion(profile.GetString(section, "Version", ""));
  info.IsPenwave = profile.GetString(section, "DeviceType", "") == "PENWAVE";
  info.IsFactory = profile.GetString(section, "Type", "CUSTOMER") == "FACTORY";
  info.StorageCheck = static_cast<int32_t>(profile.GetInt(section, "StorageCheck", 0));
  info.StorageSize = ScanHexU64Saturating(profile.GetString(section, "StorageSize", ""));
}

}  // namespace

FwInfoArray LoadFwInfos(const ProfileReader& profile) {
  // Section names are compared exactly here, unlike the key lookups of the profile reader.
  const std::vector<std::string> names = profile.SectionNames();
  const std::unordered_set<std::string> present(names.begin(), names.end());

  size_t count = 0;
  while (present.count(FirmwareSectionName(count)) != 0) ++count;
  if (count == 0) count = 1;

  FwInfoArray infos;
  infos.reserve(count);
  for (size_t index = 0; index < count; ++index) {
    auto info = std::make_unique<CFwUpBaseFwInfo>();
    FillRecord(profile, FirmwareSectionName(index), *info);
    info->ResourceId = static_cast<uint16_t>(kFirstFirmwareResourceId + index);
    infos.push_back(std::move(info));
  }
  return infos;
}

const CFwUpBaseFwInfo* FindFwInfo(const FwInfoArray& infos, uint16_t deviceId) {
  for (const auto& info : infos) {
    if (info->DeviceID == deviceId) return info.get();
  }
  return infos.empty() ? nullptr : infos.front().get();
}
