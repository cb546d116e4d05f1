#pragma once
// CMLocalize: the texts of the Mac programs, read from the glossary table in the program's resources
// in the user's language and looked up by id. One shared instance per process.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mac/shared/localize_table.h"

// What CMLocalize asks of the platform. A missing function answers "nothing".
struct LocalizeEnvironment {
  // The user's preferred languages, first the most preferred (the user default "AppleLanguages").
  std::function<std::vector<std::string>()> preferredLanguages;
  // The localizations the platform chose for the program's bundle, best first.
  std::function<std::vector<std::string>()> bundleLocalizations;
  // A file's bytes; nothing when it does not exist or cannot be read.
  std::function<std::optional<std::vector<uint8_t>>(const std::string& path)> readFile;
  // A resource of the program's bundle by name and type; nothing when there is none.
  std::function<std::optional<std::vector<uint8_t>>(const std::string& name, const std::string& type)> readResource;
};

// A window, menu, menu item or view whose title can be localized. The platform's windows and menus
// take this shape so that localizeObjects can walk them.
class LocalizableObject {
 public:
  enum class Kind { Window, Menu, MenuItem, View, Other };

  virtual ~LocalizableObject() = default;
  virtual Kind kind() const = 0;
  virtual std::string title() const = 0;
  virtual void setTitle(const std::string& title) = 0;
  // A menu's items in order; empty for anything else.
  virtual std::vector<LocalizableObject*> items() { return {}; }
  // A menu item's submenu; none for anything else.
  virtual LocalizableObject* submenu() { return nullptr; }
};

class CMLocalize {
 public:
  explicit CMLocalize(LocalizeEnvironment environment);

  // The platform's answers for the shared instance and the class-level table reader.
  static void setEnvironment(LocalizeEnvironment environment);

  // Replaces the shared instance by one holding the table at `path`; nothing (and no shared
  // instance) for no path.
  static CMLocalize* localizeObject(std::optional<std::string_view> path);
  static CMLocalize* getLocalizeObject();
  static void releaseObject();

  // Replaces the table by the one read from the file in the current language. No file: no table;
  // a file that does not decode: an empty table.
  void setLocalizeCSVFile(std::optional<std::string_view> path);
  bool hasTable() const { return table_.has_value(); }

  int getCurrentLanguageNo() const;

  // The text of an id; "id:" gives the text of "id" with " :", "id..." the text with "...". An id
  // without text gives a placeholder "_NG_<n>" that no other look-up returns; an empty id an empty text.
  std::string getLocalizedString(std::optional<std::string_view> id);
  static bool isCorrectLocalizedString(std::optional<std::string_view> text);

  std::string getLocalizedYearString(int year);
  std::string getLocalizedMonthString(int month);  // empty outside 1 ... 12
  std::string getLocalizedDayString(int day);
  bool isStartFromSundayInMonthCalendar() const;

  std::optional<std::string> getLocalizedLanguageNameString(std::string_view code) const;
  bool isLangCodeExsist(std::string_view code) const;

  // A window's title and a menu's item titles (submenus first) and own title become the texts whose
  // ids they hold; a title without text is kept. Views and other objects are left as they are.
  void localizeObjects(LocalizableObject* object);
  void localizeObjectsRelativeTo(LocalizableObject* object);
  std::string getWindowTitleJudgedApplycationType(std::string_view title) const;

  // The "klc" table of the program's bundle; nothing without that resource. The language number does
  // not choose a column: the table holds one language.
  static std::optional<LocalizeTable> getLocalizeStringsDictionaryWithLanguageNo(int languageNo);

 private:
  std::string NextPlaceholder();
  const std::string* Find(std::string_view id) const;
  void LocalizeTitle(LocalizableObject& object);
  void LocalizeMenu(LocalizableObject& menu);

  LocalizeEnvironment environment_;
  std::optional<LocalizeTable> table_;
  uint32_t missCounter_ = 0;
};
