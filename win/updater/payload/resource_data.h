#pragma once
// The payload a single-target updater carries: checked against the sizes its configuration
// declares, partly written into the temporary folder, and removed again at the end.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "common/fw_info.h"
#include "common/payload.h"

// Windows XP and later need the autoplay-cancel library.
bool NeedsAutoplayLibraryFor(DWORD majorVersion, DWORD minorVersion);

// Shows "Apprication Error(0x%08x)" (string 401 of the program) in a stop box.
void ShowPayloadError(PayloadError error);

class CResourceData {
 public:
  using ErrorReporter = std::function<void(PayloadError)>;

  // `module` holds the BIN resources (the program itself unless told otherwise).
  CResourceData(bool needsAutoplayLibrary, HMODULE module = nullptr, ErrorReporter report = ShowPayloadError);
  virtual ~CResourceData();
  CResourceData(const CResourceData&) = delete;
  CResourceData& operator=(const CResourceData&) = delete;

  // Temp paths, the configuration file, then the check and the library and table files; the first
  // step that fails has reported its error and ends the chain.
  bool Prepare();
  void RemoveFiles();

  bool NeedsAutoplayLibrary() const { return needsAutoplayLibrary_; }
  const std::string& GlossaryTablePath() const { return glossaryTablePath_; }
  const std::string& GlossaryLibraryPath() const { return glossaryLibraryPath_; }
  const std::string& AutoplayLibraryPath() const { return autoplayLibraryPath_; }
  const std::string& ConfigurationPath() const { return configurationPath_; }
  const std::string& CompletionMarkerPath() const { return completionMarkerPath_; }

 private:
  bool BuildPaths();
  bool WriteConfiguration();
  bool CheckAndWritePayload();
  PayloadError Fail(PayloadError error);

  bool needsAutoplayLibrary_;
  std::string glossaryTablePath_;
  std::string glossaryLibraryPath_;
  std::string autoplayLibraryPath_;
  std::string configurationPath_;
  std::string completionMarkerPath_;
  HMODULE module_;
  ErrorReporter report_;
};

// The size of BIN resource `id` without a buffer; with one, copies it when `size` is large enough.
// `size` always receives the resource's size. False when the resource is missing or `size` is null.
bool ReadBinResource(uint16_t id, uint8_t* buffer, uint32_t* size, HMODULE module = nullptr);

// The firmware records of a configuration file, read with the system's profile readers.
FwInfoArray LoadFwInfos(const std::string& configurationPath);

// The system's private-profile readers on one file.
class Win32ProfileReader : public ProfileReader {
 public:
  explicit Win32ProfileReader(std::string path) : path_(std::move(path)) {}
  std::vector<std::string> SectionNames() const override;
  uint32_t GetInt(std::string_view section, std::string_view key, uint32_t fallback) const override;
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const override;

 private:
  std::string path_;
};
