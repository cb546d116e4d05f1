#include "mac/shared/library.h"

#include <stdexcept>

#include "mac/platform/platform.h"
#include "mac/shared/localize.h"
#include "mac/shared/processes.h"

namespace {

MacLibrary* gCurrent = nullptr;

}  // namespace

MacLibrary::MacLibrary(mac::Platform& platform, MacProgram program)
    : platform_(platform),
      program_(program),
      systemVersion_([&platform] { return platform.processInfo().operatingSystemVersionString(); }) {
  if (gCurrent != nullptr) throw std::logic_error("the Mac library is bound to a platform already");
  gCurrent = this;

  const mac::FileManager& files = platform.fileManager();
  auto readFile = [&files](const std::string& path) { return files.contentsAtPath(path); };
  FwUpIniFile::setReader(iniDecoding(), readFile);

  LocalizeEnvironment environment;
  environment.preferredLanguages = [&platform] {
    return platform.userDefaults().stringArrayForKey(mac::UserDefaults::kAppleLanguages);
  };
  environment.bundleLocalizations = [&platform] { return platform.mainBundle().preferredLocalizations(); };
  environment.readFile = readFile;
  environment.readResource = [&platform](const std::string& name,
                                         const std::string& type) -> std::optional<std::vector<uint8_t>> {
    const auto path = platform.mainBundle().pathForResource(name, type);
    if (!path) return std::nullopt;
    return platform.fileManager().contentsAtPath(*path);
  };
  CMLocalize::setEnvironment(std::move(environment));
}

MacLibrary::~MacLibrary() {
  // The shared instances keep copies of the functions above, which refer to the platform.
  FwUpIniFile::releaseObject();
  FwUpIniFile::setReader(IniDecoding::UnicodeOrUtf8, {});
  CMLocalize::releaseObject();
  CMLocalize::setEnvironment({});
  gCurrent = nullptr;
}

MacLibrary& MacLibrary::current() {
  if (gCurrent == nullptr) throw std::logic_error("the Mac library is not bound to a platform");
  return *gCurrent;
}

bool MacLibrary::hasCurrent() { return gCurrent != nullptr; }

std::string_view MacLibrary::applicationName() const {
  return program_ == MacProgram::Reflash ? kReflashApplicationName : kTwinflashApplicationName;
}

IniDecoding MacLibrary::iniDecoding() const {
  return program_ == MacProgram::Reflash ? IniDecoding::UnicodeOrUtf8 : IniDecoding::Utf8Only;
}
