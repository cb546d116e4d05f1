#pragma once
// Foundation as the Mac programs use it: notification centres, user defaults, the process's
// arguments and the system's version text, and the main bundle.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mac/platform/plist.h"

namespace mac {

class FileManager;

// A notification's userInfo: NSString and NSNumber values by key.
class UserInfo {
 public:
  using Value = std::variant<int64_t, std::string>;

  UserInfo& set(std::string key, int64_t number);
  UserInfo& set(std::string key, std::string text);
  std::optional<int64_t> number(std::string_view key) const;
  std::optional<std::string> string(std::string_view key) const;
  bool contains(std::string_view key) const { return values_.find(key) != values_.end(); }

 private:
  std::map<std::string, Value, std::less<>> values_;
};

struct Notification {
  std::string name;
  const void* object = nullptr;
  std::optional<UserInfo> userInfo;
};

// The workspace's notifications and the userInfo keys that come with them.
inline constexpr std::string_view NSWorkspaceWillLaunchApplicationNotification = "NSWorkspaceWillLaunchApplicationNotification";
inline constexpr std::string_view NSWorkspaceDidLaunchApplicationNotification = "NSWorkspaceDidLaunchApplicationNotification";
inline constexpr std::string_view NSWorkspaceDidTerminateApplicationNotification = "NSWorkspaceDidTerminateApplicationNotification";
inline constexpr std::string_view NSWorkspaceSessionDidResignActiveNotification = "NSWorkspaceSessionDidResignActiveNotification";
inline constexpr std::string_view NSWorkspaceDidMountNotification = "NSWorkspaceDidMountNotification";
inline constexpr std::string_view NSWorkspaceDidUnmountNotification = "NSWorkspaceDidUnmountNotification";
inline constexpr std::string_view NSApplicationName = "NSApplicationName";
inline constexpr std::string_view NSApplicationPath = "NSApplicationPath";
inline constexpr std::string_view NSApplicationProcessIdentifier = "NSApplicationProcessIdentifier";
inline constexpr std::string_view NSDevicePath = "NSDevicePath";

// NSNotificationCenter. Observers are named by an address of the caller's choice (usually `this`)
// and receive, synchronously and in the order they registered, the notifications of the names they
// observe. An observer removed while a notification is being delivered receives nothing more.
class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;

  void addObserver(const void* observer, std::string name, Handler handler);
  // Every registration of the observer, or only those for one name.
  void removeObserver(const void* observer);
  void removeObserver(const void* observer, std::string_view name);
  void postNotificationName(std::string name, const void* object = nullptr, std::optional<UserInfo> userInfo = {});

  size_t observationCount() const { return registrations_.size(); }

 private:
  struct Registration {
    uint64_t id;
    const void* observer;
    std::string name;
    Handler handler;
  };
  std::vector<Registration> registrations_;
  uint64_t nextId_ = 1;
};

// NSUserDefaults standardUserDefaults.
class UserDefaults {
 public:
  using Value = std::variant<std::string, int64_t, bool, std::vector<std::string>>;
  static constexpr std::string_view kAppleLanguages = "AppleLanguages";

  std::optional<Value> objectForKey(std::string_view key) const;
  std::optional<std::string> stringForKey(std::string_view key) const;
  // Empty when the key is missing or holds no array of strings.
  std::vector<std::string> stringArrayForKey(std::string_view key) const;
  void setObject(std::string key, Value value);
  void removeObjectForKey(std::string_view key);

 private:
  std::map<std::string, Value, std::less<>> values_;
};

// NSProcessInfo, with NSHomeDirectory and NSUserName.
class ProcessInfo {
 public:
  ProcessInfo(std::vector<std::string> arguments, std::string systemVersion, int32_t pid, std::string userName,
              std::string homeDirectory);

  const std::vector<std::string>& arguments() const { return arguments_; }
  // As the system writes it: "Version 10.6.8 (Build 10K549)".
  const std::string& operatingSystemVersionString() const { return versionText_; }
  int32_t processIdentifier() const { return pid_; }
  const std::string& userName() const { return userName_; }
  const std::string& homeDirectory() const { return home_; }

  // ---- The simulation's side ----
  void setOperatingSystemVersionString(std::string text) { versionText_ = std::move(text); }

 private:
  std::vector<std::string> arguments_;
  std::string versionText_;
  int32_t pid_;
  std::string userName_;
  std::string home_;
};

// NSBundle mainBundle: the running program's bundle, a folder "<name>.app" with "Contents/Info.plist"
// and "Contents/Resources".
class Bundle {
 public:
  Bundle(const FileManager& files, std::string bundlePath, std::vector<std::string> preferredLocalizations);

  const std::string& bundlePath() const { return path_; }
  std::string resourcePath() const { return path_ + "/Contents/Resources"; }
  // The resource "<name>.<type>" (just "<name>" for an empty type) when it exists.
  std::optional<std::string> pathForResource(std::string_view name, std::string_view type) const;
  // The localizations the system chose for this bundle and the user, best first.
  const std::vector<std::string>& preferredLocalizations() const { return localizations_; }
  // A value of Contents/Info.plist; nothing when the file or the key is missing or does not parse.
  std::optional<PlistValue> objectForInfoDictionaryKey(std::string_view key) const;
  // NSLocalizedStringFromTable: the text of `key` in Resources/<localization>.lproj/<table>.strings
  // of the first preferred localization that has it; nothing when none has.
  std::optional<std::string> localizedString(std::string_view key, std::string_view table = "Localizable") const;
  // localizedInfoDictionary: the value in InfoPlist.strings, else the text of Info.plist.
  std::optional<std::string> localizedInfoString(std::string_view key) const;

  // The localizations the system chooses for a bundle that has the .lproj folders `available`
  // ("ja", "English", ...) for a user who prefers `languages` ("ja", "en", ...): the first language
  // the bundle has, then the bundle's development region. Language codes and the old names
  // ("Japanese") stand for each other.
  static std::vector<std::string> PreferredLocalizationsFor(const std::vector<std::string>& available,
                                                             const std::vector<std::string>& languages,
                                                             std::string_view developmentRegion);

 private:
  const FileManager& files_;
  std::string path_;
  std::vector<std::string> localizations_;
};

}  // namespace mac
