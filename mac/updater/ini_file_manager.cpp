#include "mac/updater/ini_file_manager.h"

#include <memory>

#include "mac/updater/run_state.h"

namespace {

std::unique_ptr<FwUpIniFileManager> gIniFileManagerObj;
FwUpIniFileManager::ErrorPanel gErrorPanel;

// A key counts only with a value.
std::optional<std::string> Value(const IniSection& section, std::string_view key) {
  const auto it = section.find(key);
  if (it == section.end() || it->second.empty()) return std::nullopt;
  return it->second;
}

std::optional<uint16_t> TypeWord(const std::string& word) {
  if (word == "CUSTOMER") return FwUpIniFileManager::kTypeCustomer;
  if (word == "FACTORY") return FwUpIniFileManager::kTypeFactory;
  return std::nullopt;
}
std::optional<uint16_t> DeviceTypeWord(const std::string& word) {
  if (word == "RECORDER") return 0;
  if (word == "PENWAVE") return 1;
  return std::nullopt;
}
std::optional<uint8_t> TargetWord(const std::string& word) {
  if (word == "MAIN") return 0;
  if (word == "SUB") return 1;
  return std::nullopt;
}

// The key is spelled so in every configuration file of the product line.
constexpr std::string_view kTargetKey = "Traget";

// The first missing or invalid required key of a firmware section, as its message.
const char* CheckSection(const IniSection& s) {
  using namespace ini_message;
  if (!Value(s, "StartAddress")) return kNoStartAddress;
  if (!Value(s, "Length")) return kNoLength;
  if (!Value(s, "Model")) return kNoModel;
  if (!Value(s, "Version")) return kNoVersion;
  if (!Value(s, "DeviceID")) return kNoDeviceID;
  const auto type = Value(s, "Type");
  if (!type) return kNoType;
  if (!TypeWord(*type)) return kBadType;
  const auto target = Value(s, kTargetKey);
  if (!target) return kNoTarget;
  if (!TargetWord(*target)) return kBadTarget;
  return nullptr;
}

void ShowError(const char* message) {
  if (gErrorPanel) {
    gErrorPanel(ini_message::kTitle, message);
  } else {
    runAlertPanel(ini_message::kTitle, message);
  }
}

}  // namespace

int32_t IniIntValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT32_MAX) return negative ? INT32_MIN : INT32_MAX;  // saturates, as intValue does
  }
  return static_cast<int32_t>(negative ? -value : value);
}

FwUpIniFileManager* FwUpIniFileManager::iniFileManagerObject(std::optional<std::string_view> path) {
  gIniFileManagerObj.reset();
  if (!path) return nullptr;
  FwUpIniFile* file = FwUpIniFile::iniFileObject(path);
  if (!file || file->sections().empty()) return nullptr;
  auto manager = std::make_unique<FwUpIniFileManager>(*file);
  if (!manager->getValues()) return nullptr;
  gIniFileManagerObj = std::move(manager);
  return gIniFileManagerObj.get();
}

FwUpIniFileManager* FwUpIniFileManager::getObject() { return gIniFileManagerObj.get(); }

void FwUpIniFileManager::releaseObject() {
  gIniFileManagerObj.reset();
  FwUpIniFile::releaseObject();
}

void FwUpIniFileManager::setErrorPanel(ErrorPanel panel) { gErrorPanel = std::move(panel); }

void FwUpIniFileManager::resetEntry() {
  startAddress_ = 0;
  length_ = 0;
  model_.reset();
  version_ = {};
  deviceID_ = 0;
  type_ = 0;
  deviceType_ = 0;
  target_ = 0;
}

bool FwUpIniFileManager::getValues() {
  resetEntry();
  isFirm2Bin_ = false;
  admitLaunch_ = false;
  const IniSection* first = file_.getIniFileSectionDictionary("FIRMWARE");
  if (!first) {
    ShowError(ini_message::kNoFirmwareSection);
    return false;
  }
  // Each value is stored as soon as it is read, as far as the check goes.
  const IniSection& s = *first;
  if (const auto v = Value(s, "StartAddress")) startAddress_ = static_cast<uint32_t>(IniIntValue(*v));
  if (const auto v = Value(s, "Length")) length_ = static_cast<uint32_t>(IniIntValue(*v));
  if (const auto v = Value(s, "Model")) model_ = *v;
  if (const auto v = Value(s, "Version")) convertVersionStringToStruct(*v, &version_);
  if (const auto v = Value(s, "DeviceID")) deviceID_ = static_cast<uint16_t>(IniIntValue(*v));
  if (const auto v = Value(s, "Type"); v && TypeWord(*v)) type_ = *TypeWord(*v);
  if (const auto v = Value(s, "DeviceType"); v && DeviceTypeWord(*v)) deviceType_ = *DeviceTypeWord(*v);
  if (const auto v = Value(s, kTargetKey); v && TargetWord(*v)) target_ = *TargetWord(*v);
  if (const char* error = CheckSection(s)) {
    ShowError(error);
    return false;
  }
  if (const IniSection* second = file_.getIniFileSectionDictionary("FIRMWARE2")) {
    if (const char* error = CheckSection(*second)) {
      ShowError(error);
      return false;
    }
  }
  if (const IniSection* player = file_.getIniFileSectionDictionary("VOXPLAYER")) {
    const auto v = Value(*player, "AdmitLaunch");
    admitLaunch_ = v && *v == "YES";
  }
  return true;
}

int FwUpIniFileManager::compareWithVersion(const _FIRM_VERSION* recorder) const {
  if (!recorder) return 1;
  if (version_ == *recorder) return 0;
  return version_ > *recorder ? 1 : -1;
}

bool FwUpIniFileManager::isFirmware2Section() const { return file_.getIniFileSectionDictionary("FIRMWARE2") != nullptr; }

void FwUpIniFileManager::loadTolerant(const IniSection& s) {
  if (const auto v = Value(s, "StartAddress")) startAddress_ = static_cast<uint32_t>(IniIntValue(*v));
  if (const auto v = Value(s, "Length")) length_ = static_cast<uint32_t>(IniIntValue(*v));
  if (const auto v = Value(s, "Model")) model_ = *v;
  if (const auto v = Value(s, "Version")) convertVersionStringToStruct(*v, &version_);
  if (const auto v = Value(s, "Type"); v && TypeWord(*v)) type_ = *TypeWord(*v);
  if (const auto v = Value(s, "DeviceType"); v && DeviceTypeWord(*v)) deviceType_ = *DeviceTypeWord(*v);
  if (const auto v = Value(s, kTargetKey); v && TargetWord(*v)) target_ = *TargetWord(*v);
}

bool FwUpIniFileManager::isFirmware2Device(uint16_t deviceId) {
  const IniSection* second = file_.getIniFileSectionDictionary("FIRMWARE2");
  if (!second) return false;
  const auto id = Value(*second, "DeviceID");
  if (!id || static_cast<uint16_t>(IniIntValue(*id)) != deviceId) return false;
  isFirm2Bin_ = true;
  resetEntry();
  loadTolerant(*second);
  deviceID_ = deviceId;
  return true;
}

void FwUpIniFileManager::initIsFirm2Bin() {
  if (!isFirm2Bin_) return;
  isFirm2Bin_ = false;
  resetEntry();
  if (const IniSection* first = file_.getIniFileSectionDictionary("FIRMWARE")) {
    loadTolerant(*first);
    if (const auto v = Value(*first, "DeviceID")) deviceID_ = static_cast<uint16_t>(IniIntValue(*v));
  }
}
