#include "mac/shared/kext.h"

#include "mac/platform/platform.h"
#include "mac/shared/file_names.h"
#include "mac/shared/library.h"
#include "mac/shared/versions.h"

static_assert(kKextNotInstalled == mac::errAuthorizationCanceled);

namespace {

constexpr std::string_view kCopyTool = "CopyKextTool";
constexpr std::string_view kShortVersionKey = "CFBundleShortVersionString";
// The tool copies on its own; these bound how long the program waits for it.
constexpr int kArrivalChecks = 30;
constexpr mac::Milliseconds kBetweenChecks{100};
constexpr mac::Milliseconds kAfterArrival{1000};
constexpr uint32_t kAskForTheRight =
    mac::kAuthorizationFlagInteractionAllowed | mac::kAuthorizationFlagExtendRights | mac::kAuthorizationFlagPreAuthorize;

mac::Platform& Mac() { return MacLibrary::current().platform(); }

SystemVersion ThisSystem() {
  SystemVersionCache& cache = MacLibrary::current().systemVersion();
  return {cache.GetSystemMajorVersion(), cache.GetSystemMinorVersion(), cache.GetSystemPatchVersion()};
}

// NSString's lastPathComponent: trailing slashes do not count.
std::string_view LastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

}  // namespace

std::string GetNewKextPath() { return NewKextPathIn(Mac().mainBundle().resourcePath(), ThisSystem()); }

std::string GetKextInstallFolder() { return std::string(KextLocationFor(ThisSystem()).installedFolder); }

std::optional<mac::PlistValue> GetProperty(std::string_view bundlePath, std::string_view key) {
  const auto bytes = Mac().fileManager().contentsAtPath(JoinPath(JoinPath(bundlePath, "Contents"), "Info.plist"));
  if (!bytes) return std::nullopt;
  const auto list = mac::PropertyListFromData(*bytes);
  if (!list) return std::nullopt;
  const mac::PlistValue* value = list->objectForKey(key);
  if (value == nullptr) return std::nullopt;
  return *value;
}

std::optional<std::vector<int32_t>> GetKextVersion(std::string_view bundlePath) {
  const auto version = GetProperty(bundlePath, kShortVersionKey);
  // A driver whose version is written as something other than text has no version we can compare.
  if (!version || version->string() == nullptr) return std::nullopt;
  return ParseKextVersion(*version->string());
}

bool NeedInstallKext() {
  const std::string installed = JoinPath(GetKextInstallFolder(), kKextName);
  const bool installedExists = Mac().fileManager().fileExistsAtPath(installed);
  if (!installedExists) return true;
  return NeedInstallKextFor(true, GetKextVersion(GetNewKextPath()), GetKextVersion(installed));
}

int32_t InstallKext(std::string_view kextPath) {
  mac::Platform& platform = Mac();
  const mac::FileManager& files = platform.fileManager();
  if (!files.fileExistsAtPath(kextPath)) return kKextNotInstalled;

  mac::Authorization& services = platform.authorization();
  mac::ScopedAuthorization authorization(services);
  mac::OSStatus status = services.AuthorizationCreate(nullptr, mac::kAuthorizationFlagDefaults, authorization.receive());
  if (status != mac::errAuthorizationSuccess) return status;
  status = services.AuthorizationCopyRights(authorization.get(), {{std::string(mac::kAuthorizationRightExecute)}},
                                            kAskForTheRight);
  if (status != mac::errAuthorizationSuccess) return status;
  status = services.AuthorizationExecuteWithPrivileges(
      authorization.get(), JoinPath(platform.mainBundle().resourcePath(), kCopyTool), {std::string(kextPath)});
  if (status != mac::errAuthorizationSuccess) return status;

  const std::string arrived = JoinPath(GetKextInstallFolder(), LastPathComponent(kextPath));
  bool found = false;
  for (int check = 0; check < kArrivalChecks && !found; ++check) {
    platform.clock().sleepFor(kBetweenChecks);
    found = files.fileExistsAtPath(arrived);
  }
  platform.clock().sleepFor(kAfterArrival);
  return found ? 0 : kKextNotInstalled;
}
