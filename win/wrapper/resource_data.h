#pragma once
// The payload of the two-stage wrapper: both stage updaters, the glossary table and library, the
// autoplay-cancel library and the two pictures, checked against the sizes TWINFLASH.INI declares and
// written into the temporary folder; removed again at the end, with the completion marker the stages
// leave there.

#include <windows.h>

#include <functional>
#include <string>

#include "common/payload.h"

// Shows "Apprication Error(0x%08x)" (string 102 of the program) in an error box.
void ShowPayloadError(PayloadError error);

class CResourceData {
 public:
  using ErrorReporter = std::function<void(PayloadError)>;

  // `module` holds the BIN resources (the program itself unless told otherwise). Without the
  // autoplay-cancel library (Windows 2000) its resource is still checked but neither locked nor written.
  CResourceData(bool needsAutoplayLibrary, HMODULE module = nullptr, ErrorReporter report = ShowPayloadError);
  virtual ~CResourceData();
  CResourceData(const CResourceData&) = delete;
  CResourceData& operator=(const CResourceData&) = delete;

  // Paths, the configuration file, then the check and the files; the first step that fails has
  // reported its error and ends the chain.
  bool Prepare();
  // Deletes every file this payload names, the completion marker included, and forgets each path, so
  // that a second call does nothing.
  void RemoveFiles();

  bool NeedsAutoplayLibrary() const { return NeedsAutoplayLibraryFlag; }
  const std::wstring& ModelName() const { return Model; }
  const std::wstring& GlossaryTablePath() const { return GlossaryTable; }
  const std::wstring& GlossaryLibraryPath() const { return GlossaryLibrary; }
  const std::wstring& AutoplayLibraryPath() const { return AutoplayLibrary; }
  const std::wstring& ConfigurationPath() const { return Configuration; }
  const std::wstring& Stage1Path() const { return Stage1; }
  const std::wstring& Stage2Path() const { return Stage2; }
  const std::wstring& CompletionMarkerPath() const { return CompletionMarker; }

 private:
  bool BuildPaths();
  bool WriteConfiguration();
  bool CheckAndWritePayload();
  void Fail(PayloadError error) const;

  bool NeedsAutoplayLibraryFlag;
  std::wstring Model;
  std::wstring GlossaryTable;
  std::wstring GlossaryLibrary;
  std::wstring AutoplayLibrary;
  std::wstring Configuration;
  std::wstring Stage1;
  std::wstring Stage2;
  std::wstring CompletionMarker;
  HMODULE module_;
  ErrorReporter report_;
};
