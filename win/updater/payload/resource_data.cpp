#include "win/updater/payload/resource_data.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "win/framework/app.h"
#include "win/framework/dialog.h"
#include "win/framework/handles.h"
#include "win/shared/bin_payload.h"

namespace {

constexpr UINT kPayloadErrorString = 401;
constexpr DWORD kStringValueBuffer = 4096;

void UseAsApplicationProfile(const std::string& path) {
  if (win::CWinApp* app = win::CurrentApp()) app->SetProfileName(path);
}

}  // namespace

bool NeedsAutoplayLibraryFor(DWORD majorVersion, DWORD minorVersion) {
  return majorVersion > 5 || (majorVersion == 5 && minorVersion != 0);
}

void ShowPayloadError(PayloadError error) {
  char format[128] = {};
  if (LoadStringA(GetModuleHandleA(nullptr), kPayloadErrorString, format, sizeof format) <= 0) {
    std::snprintf(format, sizeof format, "%s", "Apprication Error(0x%08x)");
  }
  char text[160] = {};
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(error));
  // No glossary is there yet to give a title: the program's name tells whose error this is.
  win::MessageBoxText(nullptr, text, MB_OK | MB_ICONSTOP);
}

CResourceData::CResourceData(bool needsAutoplayLibrary, HMODULE module, ErrorReporter report)
    : needsAutoplayLibrary_(needsAutoplayLibrary),
      module_(module ? module : GetModuleHandleA(nullptr)),
      report_(std::move(report)) {}

CResourceData::~CResourceData() { RemoveFiles(); }

bool CResourceData::Prepare() { return BuildPaths() && WriteConfiguration() && CheckAndWritePayload(); }

PayloadError CResourceData::Fail(PayloadError error) {
  if (report_) report_(error);
  return error;
}

bool CResourceData::BuildPaths() {
  char temp[MAX_PATH] = {};
  // A folder whose name does not fit comes back as its length alone; the buffer then holds no path.
  const DWORD length = GetTempPathA(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) {
    Fail(kTempFolderUnknown);
    return false;
  }
  const std::string folder(temp);
  glossaryTablePath_ = folder + bundle::kGlossaryTable.fileName;
  glossaryLibraryPath_ = folder + bundle::kGlossaryLibrary.fileName;
  autoplayLibraryPath_ = needsAutoplayLibrary_ ? folder + bundle::kAutoplayLibrary.fileName : std::string();
  configurationPath_ = folder + bundle::kConfiguration.fileName;
  completionMarkerPath_ = folder + "KestrelReflashCompleteCheck.txt";
  return true;
}

bool CResourceData::WriteConfiguration() {
  const PayloadError error = payload::WriteBinItem(module_, bundle::kConfiguration.resourceId,
                                                   bundle::kConfiguration.itemBit, configurationPath_);
  if (error != kPayloadOk) {
    Fail(error);
    return false;
  }
  return true;
}

bool CResourceData::CheckAndWritePayload() {
  UseAsApplicationProfile(configurationPath_);
  const Win32ProfileReader profile(configurationPath_);

  BundleSizes declared, actual;
  for (size_t i = 0; i < std::size(bundle::kCheckedItems); ++i) {
    declared.items[i] = profile.GetInt("RESOURCE", bundle::kCheckedItems[i].sizeKey, 0);
    actual.items[i] = payload::FindBin(module_, bundle::kCheckedItems[i].resourceId).size;
  }
  for (size_t n = 0;; ++n) {
    const uint32_t size = profile.GetInt("RESOURCE", bundle::FirmwareSizeKey(n), 0);
    if (size == 0) break;
    declared.firmware.push_back(size);
    actual.firmware.push_back(payload::FindBin(module_, static_cast<uint16_t>(bundle::kFirmware.resourceId + n)).size);
  }
  PayloadError error = CheckBundleSizes(declared, actual);

  // Locked in memory only once every size is right, and written only once every lock held.
  const payload::OutgoingItem<std::string> items[] = {
      {bundle::kGlossaryTable, glossaryTablePath_, true},
      {bundle::kGlossaryLibrary, glossaryLibraryPath_, true},
      {bundle::kAutoplayLibrary, autoplayLibraryPath_, needsAutoplayLibrary_}};
  if (error == kPayloadOk) error = payload::LockAndWriteAll<std::string>(module_, items);
  if (error != kPayloadOk) {
    Fail(error);
    return false;
  }
  return true;
}

void CResourceData::RemoveFiles() {
  // The completion marker is the two-stage wrapper's to delete, never ours.
  for (std::string* path : {&glossaryTablePath_, &glossaryLibraryPath_, &configurationPath_}) {
    if (!path->empty()) DeleteFileA(path->c_str());
    path->clear();
  }
  if (needsAutoplayLibrary_ && !autoplayLibraryPath_.empty()) DeleteFileA(autoplayLibraryPath_.c_str());
  autoplayLibraryPath_.clear();
}

bool ReadBinResource(uint16_t id, uint8_t* buffer, uint32_t* size, HMODULE module) {
  if (!size) return false;
  if (!module) module = GetModuleHandleA(nullptr);
  const payload::BinResource r = payload::FindBin(module, id);
  if (!r.info) return false;
  if (!buffer) {
    *size = r.size;
    return true;
  }
  const bool fits = *size >= r.size;
  const void* data = fits ? payload::LockBin(module, r) : nullptr;
  if (data) std::memcpy(buffer, data, r.size);
  *size = r.size;
  return data != nullptr;
}

FwInfoArray LoadFwInfos(const std::string& configurationPath) {
  UseAsApplicationProfile(configurationPath);
  return LoadFwInfos(Win32ProfileReader(configurationPath));
}

std::vector<std::string> Win32ProfileReader::SectionNames() const {
  // A full buffer is reported as its size minus 2; then the names did not all fit.
  std::vector<char> buffer(1024);
  for (;;) {
    const DWORD n = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()), path_.c_str());
    if (n != buffer.size() - 2) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() + 1024);
  }
  std::vector<std::string> names;
  for (size_t i = 0; i < buffer.size();) {
    const std::string name(buffer.data() + i);
    if (name.empty()) break;
    i += name.size() + 1;
    names.push_back(name);
  }
  return names;
}

uint32_t Win32ProfileReader::GetInt(std::string_view section, std::string_view key, uint32_t fallback) const {
  return GetPrivateProfileIntA(std::string(section).c_str(), std::string(key).c_str(), static_cast<INT>(fallback),
                               path_.c_str());
}

std::string Win32ProfileReader::GetString(std::string_view section, std::string_view key, std::string_view fallback) const {
  std::vector<char> value(kStringValueBuffer);
  GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(), std::string(fallback).c_str(),
                           value.data(), kStringValueBuffer, path_.c_str());
  return std::string(value.data());
}
