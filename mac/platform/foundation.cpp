#include "mac/platform/foundation.h"

#include <algorithm>

#include "mac/platform/files.h"
#include "mac/platform/strings.h"

namespace mac {

UserInfo& UserInfo::set(std::string key, int64_t number) {
  values_.insert_or_assign(std::move(key), Value(number));
  return *this;
}

UserInfo& UserInfo::set(std::string key, std::string text) {
  values_.insert_or_assign(std::move(key), Value(std::move(text)));
  return *this;
}

std::optional<int64_t> UserInfo::number(std::string_view key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  const auto* number = std::get_if<int64_t>(&it->second);
  return number ? std::optional(*number) : std::nullopt;
}

std::optional<std::string> UserInfo::string(std::string_view key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  const auto* text = std::get_if<std::string>(&it->second);
  return text ? std::optional(*text) : std::nullopt;
}

void NotificationCenter::addObserver(const void* observer, std::string name, Handler handler) {
  registrations_.push_back({nextId_++, observer, std::move(name), std::move(handler)});
}

void NotificationCenter::removeObserver(const void* observer) {
  std::erase_if(registrations_, [&](const Registration& r) { return r.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, std::string_view name) {
  std::erase_if(registrations_, [&](const Registration& r) { return r.observer == observer && r.name == name; });
}

void NotificationCenter::postNotificationName(std::string name, const void* object, std::optional<UserInfo> userInfo) {
  const Notification notification{std::move(name), object, std::move(userInfo)};
  std::vector<uint64_t> ids;
  for (const Registration& r : registrations_) {
    if (r.name == notification.name) ids.push_back(r.id);
  }
  for (const uint64_t id : ids) {
    // Looked up again: an earlier observer may have removed this one.
    const auto it = std::find_if(registrations_.begin(), registrations_.end(), [id](const Registration& r) { return r.id == id; });
    if (it == registrations_.end()) continue;
    const Handler handler = it->handler;  // the handler may remove its own registration
    handler(notification);
  }
}

std::optional<UserDefaults::Value> UserDefaults::objectForKey(std::string_view key) const {
  const auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  const auto value = objectForKey(key);
  if (!value) return std::nullopt;
  const auto* text = std::get_if<std::string>(&*value);
  return text ? std::optional(*text) : std::nullopt;
}

std::vector<std::string> UserDefaults::stringArrayForKey(std::string_view key) const {
  const auto value = objectForKey(key);
  if (!value) return {};
  const auto* array = std::get_if<std::vector<std::string>>(&*value);
  return array ? *array : std::vector<std::string>{};
}

void UserDefaults::setObject(std::string key, Value value) { values_.insert_or_assign(std::move(key), std::move(value)); }

void UserDefaults::removeObjectForKey(std::string_view key) {
  const auto it = values_.find(key);
  if (it != values_.end()) values_.erase(it);
}

ProcessInfo::ProcessInfo(std::vector<std::string> arguments, std::string systemVersion, int32_t pid, std::string userName,
                         std::string homeDirectory)
    : arguments_(std::move(arguments)),
      versionText_(std::move(systemVersion)),
      pid_(pid),
      userName_(std::move(userName)),
      home_(std::move(homeDirectory)) {}

Bundle::Bundle(const FileManager& files, std::string bundlePath, std::vector<std::string> preferredLocalizations)
    : files_(files), path_(std::move(bundlePath)), localizations_(std::move(preferredLocalizations)) {}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type) const {
  if (name.empty()) return std::nullopt;
  std::string path = resourcePath() + "/" + std::string(name);
  if (!type.empty()) path.append(".").append(type);
  if (!files_.fileExistsAtPath(path)) return std::nullopt;
  return path;
}

std::optional<PlistValue> Bundle::objectForInfoDictionaryKey(std::string_view key) const {
  const auto bytes = files_.contentsAtPath(path_ + "/Contents/Info.plist");
  if (!bytes) return std::nullopt;
  const auto list = PropertyListFromData(*bytes);
  if (!list) return std::nullopt;
  const PlistValue* value = list->objectForKey(key);
  if (!value) return std::nullopt;
  return *value;
}

std::optional<std::string> Bundle::localizedString(std::string_view key, std::string_view table) const {
  for (const std::string& localization : localizations_) {
    const auto bytes =
        files_.contentsAtPath(resourcePath() + "/" + localization + ".lproj/" + std::string(table) + ".strings");
    if (!bytes) continue;
    const auto strings = ParseStrings(*bytes);
    if (!strings) continue;
    const auto it = strings->find(key);
    if (it != strings->end()) return it->second;
  }
  return std::nullopt;
}

std::optional<std::string> Bundle::localizedInfoString(std::string_view key) const {
  if (auto text = localizedString(key, "InfoPlist")) return text;
  const auto value = objectForInfoDictionaryKey(key);
  if (!value || !value->string()) return std::nullopt;
  return *value->string();
}

namespace {

// The language codes and the old localization names of the systems the programs run on.
constexpr std::pair<std::string_view, std::string_view> kLanguageNames[] = {
    {"en", "English"}, {"ja", "Japanese"}, {"fr", "French"},   {"de", "German"},     {"es", "Spanish"},
    {"it", "Italian"}, {"nl", "Dutch"},    {"ru", "Russian"},  {"ko", "Korean"},     {"zh-Hans", "zh_CN"},
    {"zh-Hant", "zh_TW"}, {"pt", "Portuguese"}, {"sv", "Swedish"}, {"da", "Danish"}, {"fi", "Finnish"},
};

bool SameLanguage(std::string_view localization, std::string_view language) {
  if (localization == language) return true;
  for (const auto& [code, name] : kLanguageNames) {
    if ((localization == code || localization == name) && (language == code || language == name)) return true;
  }
  // "en-US" and "en_GB" are English.
  const size_t cut = language.find_first_of("-_");
  return cut != std::string_view::npos && language.substr(0, 2) != "zh" && SameLanguage(localization, language.substr(0, cut));
}

}  // namespace

std::vector<std::string> Bundle::PreferredLocalizationsFor(const std::vector<std::string>& available,
                                                            const std::vector<std::string>& languages,
                                                            std::string_view developmentRegion) {
  std::vector<std::string> chosen;
  auto add = [&](const std::string& localization) {
    if (std::find(chosen.begin(), chosen.end(), localization) == chosen.end()) chosen.push_back(localization);
  };
  for (const std::string& language : languages) {
    const auto it = std::find_if(available.begin(), available.end(),
                                 [&](const std::string& a) { return SameLanguage(a, language); });
    if (it != available.end()) {
      add(*it);
      break;
    }
  }
  for (const std::string& a : available) {
    if (SameLanguage(a, developmentRegion)) add(a);
  }
  if (chosen.empty() && !developmentRegion.empty()) add(std::string(developmentRegion));
  return chosen;
}

}  // namespace mac
