#include "mac/shared/localize.h"

#include <array>
#include <memory>
#include <string>
#include <utility>

namespace {

struct SharedLocalize {
  LocalizeEnvironment environment;
  std::unique_ptr<CMLocalize> object;
};

SharedLocalize& Shared() {
  static SharedLocalize shared;
  return shared;
}

template <class Result, class Function, class... Args>
Result AskOrNothing(const Function& function, Args&&... args) {
  if (!function) return Result();
  return function(std::forward<Args>(args)...);
}

constexpr uint32_t kLastMissNumber = 0xEFFFFFFF;

bool HasTableIdPrefix(std::string_view id) {
  for (std::string_view prefix : {"IDG", "IDS", "iDS", "iDG", "IDD"}) {
    if (id.starts_with(prefix)) return true;
  }
  return false;
}

}  // namespace

CMLocalize::CMLocalize(LocalizeEnvironment environment) : environment_(std::move(environment)) {}

void CMLocalize::setEnvironment(LocalizeEnvironment environment) { Shared().environment = std::move(environment); }

CMLocalize* CMLocalize::localizeObject(std::optional<std::string_view> path) {
  SharedLocalize& shared = Shared();
  shared.object.reset();
  if (!path) return nullptr;
  shared.object = std::make_unique<CMLocalize>(shared.environment);
  shared.object->setLocalizeCSVFile(path);
  return shared.object.get();
}

CMLocalize* CMLocalize::getLocalizeObject() { return Shared().object.get(); }

void CMLocalize::releaseObject() { Shared().object.reset(); }

void CMLocalize::setLocalizeCSVFile(std::optional<std::string_view> path) {
  table_.reset();
  if (!path) return;
  const auto bytes = AskOrNothing<std::optional<std::vector<uint8_t>>>(environment_.readFile, std::string(*path));
  if (!bytes) return;
  table_ = ReadLocalizeTable(*bytes, getCurrentLanguageNo());
  if (!table_) table_.emplace();
}

int CMLocalize::getCurrentLanguageNo() const {
  return SelectLanguageNo(AskOrNothing<std::vector<std::string>>(environment_.preferredLanguages),
                          AskOrNothing<std::vector<std::string>>(environment_.bundleLocalizations));
}

std::string CMLocalize::NextPlaceholder() { return "_NG_" + std::to_string(missCounter_++); }

const std::string* CMLocalize::Find(std::string_view id) const {
  if (!table_) return nullptr;
  const auto found = table_->find(id);
  return found == table_->end() ? nullptr : &found->second;
}

std::string CMLocalize::getLocalizedString(std::optional<std::string_view> id) {
  if (missCounter_ > kLastMissNumber) missCounter_ = 0;
  if (id && id->empty()) return {};
  std::string placeholder = NextPlaceholder();
  if (!id) return NextPlaceholder();
  // Numbering also moves on for these, so that placeholders stay unique but tell nothing.
  if (!table_) ++missCounter_;
  if (!HasTableIdPrefix(*id)) ++missCounter_;

  std::string_view key = *id;
  std::string_view suffix;
  if (key.ends_with(':')) {
    key.remove_suffix(1);
    suffix = " :";
  } else if (key.ends_with("...")) {
    key.remove_suffix(3);
    suffix = "...";
  }
  const std::string* text = Find(key);
  if (!text) return placeholder;
  return StripSurroundingQuotes(*text).append(suffix);
}

bool CMLocalize::isCorrectLocalizedString(std::optional<std::string_view> text) {
  return text && !text->starts_with("_NG_");
}

std::string CMLocalize::getLocalizedYearString(int year) {
  return FormatLocalizedText(getLocalizedString("IDGZ_UNIT_YEAR"), {std::to_string(year)});
}

std::string CMLocalize::getLocalizedDayString(int day) {
  return FormatLocalizedText(getLocalizedString("IDGZ_UNIT_DAY"), {std::to_string(day)});
}

std::string CMLocalize::getLocalizedMonthString(int month) {
  static constexpr std::array<std::string_view, 12> kMonths = {
      "IDGZ_CM5_JANUARY", "IDGZ_CM5_FEBRUARY", "IDGZ_CM5_MARCH",     "IDGZ_CM5_APRIL",
      "IDGZ_CM5_MAY",     "IDGZ_CM5_JUNE",     "IDGZ_CM5_JULY",      "IDGZ_CM5_AUGUST",
      "IDGZ_CM5_SEPTEMBER", "IDGZ_CM5_OCTOBER", "IDGZ_CM5_NOVEMBER", "IDGZ_CM5_DECEMBER"};
  if (month < 1 || month > 12) return {};
  return getLocalizedString(kMonths[static_cast<size_t>(month - 1)]);
}

bool CMLocalize::isStartFromSundayInMonthCalendar() const {
  return IsStartFromSundayFor(AskOrNothing<std::vector<std::string>>(environment_.bundleLocalizations));
}

std::optional<std::string> CMLocalize::getLocalizedLanguageNameString(std::string_view code) const {
  const auto name = LanguageNameFor(code);
  if (!name) return std::nullopt;
  return std::string(*name);
}

bool CMLocalize::isLangCodeExsist(std::string_view code) const { return LanguageNameFor(code).has_value(); }

void CMLocalize::LocalizeTitle(LocalizableObject& object) {
  std::string text = getLocalizedString(object.title());
  if (isCorrectLocalizedString(text)) object.setTitle(text);
}

void CMLocalize::LocalizeMenu(LocalizableObject& menu) {
  for (LocalizableObject* item : menu.items()) {
    if (item == nullptr) continue;
    if (LocalizableObject* submenu = item->submenu()) LocalizeMenu(*submenu);
    LocalizeTitle(*item);
  }
  LocalizeTitle(menu);
}

void CMLocalize::localizeObjects(LocalizableObject* object) {
  if (object == nullptr) return;
  switch (object->kind()) {
    case LocalizableObject::Kind::Window:
      // A window's content view would be next; views keep what they show.
      LocalizeTitle(*object);
      break;
    case LocalizableObject::Kind::Menu:
      LocalizeMenu(*object);
      break;
    case LocalizableObject::Kind::MenuItem:
    case LocalizableObject::Kind::View:
    case LocalizableObject::Kind::Other:
      break;
  }
}

void CMLocalize::localizeObjectsRelativeTo(LocalizableObject* object) {
  if (object != nullptr) localizeObjects(object);
}

std::string CMLocalize::getWindowTitleJudgedApplycationType(std::string_view title) const { return std::string(title); }

std::optional<LocalizeTable> CMLocalize::getLocalizeStringsDictionaryWithLanguageNo(int /*languageNo*/) {
  const auto bytes = AskOrNothing<std::optional<std::vector<uint8_t>>>(Shared().environment.readResource,
                                                                       std::string("localizeStrings"), std::string("klc"));
  if (!bytes) return std::nullopt;
  return ReadKlcTable(*bytes);
}
