#pragma once
// The library's ties to the Mac it runs on. Reflash and Twinflash link the same library but differ in
// two things: how their INI files are decoded, and the application name by which a second copy of
// the program is recognised. A program says which it is once, at start, by making a MacLibrary over
// its platform; from then until the MacLibrary goes, the plain functions of the library (system.h,
// kext.h), FwUpIniFile and CMLocalize read files, processes and settings through that platform.
//
// The MacLibrary also holds what the library keeps for the life of the process: the system version,
// read once. Destroying it releases the shared FwUpIniFile and CMLocalize instances and unplugs them
// from the platform, so nothing is left that could reach a platform that is gone. One at a time.

#include <string_view>

#include "mac/shared/ini_file.h"
#include "mac/shared/versions.h"

namespace mac {
class Platform;
}

enum class MacProgram { Reflash, Twinflash };

class MacLibrary {
 public:
  MacLibrary(mac::Platform& platform, MacProgram program);
  MacLibrary(const MacLibrary&) = delete;
  MacLibrary& operator=(const MacLibrary&) = delete;
  ~MacLibrary();

  static MacLibrary forReflash(mac::Platform& platform) { return MacLibrary(platform, MacProgram::Reflash); }
  static MacLibrary forTwinflash(mac::Platform& platform) { return MacLibrary(platform, MacProgram::Twinflash); }

  // The library of the running program; std::logic_error when none was made.
  static MacLibrary& current();
  static bool hasCurrent();

  mac::Platform& platform() const { return platform_; }
  MacProgram program() const { return program_; }
  // The name under which the workspace lists this program ("Firmware Update" or "TWINFLASH").
  std::string_view applicationName() const;
  IniDecoding iniDecoding() const;
  SystemVersionCache& systemVersion() { return systemVersion_; }

 private:
  mac::Platform& platform_;
  MacProgram program_;
  SystemVersionCache systemVersion_;
};
