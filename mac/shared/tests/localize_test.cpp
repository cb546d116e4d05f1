#include "mac/shared/localize.h"

#include <gtest/gtest.h>

#include <set>

#include "common/utf.h"

namespace {

constexpr const char* kTablePath = "/R/MODULES/glossaries.txt";

// One line of a ten-language table; the English column holds `english`.
std::string Row(std::string_view id, std::string_view english) {
  return std::string(id) + "\tJ\t" + std::string(english) + "\tF\tE\tD\tI\tR\tT\tS\tK\r\n";
}

const std::string kTable =
    "WinVal\tJPN\tENU\tFRA\tESP\tDEU\tITA\tRUS\tCHT\tCHS\tKOR\r\n" + Row("12000", "Updates %s Firmware (%s).") +
    Row("12010", "Updates Firmware.\\nConnect Recorder.\\tNow.") + Row("13101", "\"Yes\"") + Row("13200", "\"") +
    Row("13201", "\"Smile 🙂") + Row("11013", "Cancel") + Row("11013", "Abort") + Row("IDGZ_UNIT_YEAR", "Year %s") +
    Row("IDGZ_CM5_JANUARY", "January") + "14000\tnur Japanisch\r\nno tab here\r\n\r\n15000\tJ\tlast line";

// The shipped form: UTF-16LE with a byte-order mark.
std::vector<uint8_t> Utf16Bytes(std::string_view text) {
  std::vector<uint8_t> bytes{0xFF, 0xFE};
  const std::u16string units = Utf8ToUtf16(text).value();
  for (char16_t c : units) bytes.insert(bytes.end(), {uint8_t(c & 0xFF), uint8_t(c >> 8)});
  return bytes;
}

CMLocalize Texts(std::vector<std::string> preferred, std::vector<std::string> bundle, bool withFile = true) {
  LocalizeEnvironment environment;
  environment.preferredLanguages = [preferred] { return preferred; };
  environment.bundleLocalizations = [bundle] { return bundle; };
  environment.readFile = [withFile](const std::string& path) -> std::optional<std::vector<uint8_t>> {
    if (!withFile || path != kTablePath) return std::nullopt;
    return Utf16Bytes(kTable);
  };
  CMLocalize texts(environment);
  texts.setLocalizeCSVFile(kTablePath);
  return texts;
}

TEST(LanguageSelection, PreferredLanguageThenBundleLocalization) {
  struct Case {
    std::vector<std::string> preferred, bundle;
    int number;
  };
  const Case cases[] = {
      {{"en"}, {"English"}, 2},   {{"en-US"}, {"Japanese"}, 2},  // en-US is not known: the bundle is not asked
      {{"ja"}, {"Japanese"}, 1},  {{"Japanese", "en"}, {"German", "Japanese"}, 5},
      {{"zh-Hant"}, {"zh_TW"}, 8}, {{"en"}, {"da"}, 34},  {{"en"}, {"pt"}, 36},  {{"ko"}, {"ru"}, 7},
      {{"de"}, {"german"}, 2},    {{}, {"Japanese"}, 2},   {{"ja"}, {}, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SelectLanguageNo(c.preferred, c.bundle), c.number)
        << (c.preferred.empty() ? "-" : c.preferred[0]) << " / " << (c.bundle.empty() ? "-" : c.bundle[0]);
  }
}

TEST(LocalizedStrings, EnglishColumnWithEscapesSuffixesAndQuotes) {
  CMLocalize texts = Texts({"en"}, {"English"});
  struct Case {
    const char* id;
    const char* expected;
  };
  const Case cases[] = {
      {"12000", "Updates %@ Firmware (%@)."},
      {"12010", "Updates Firmware.\nConnect Recorder.\tNow."},
      {"12000:", "Updates %@ Firmware (%@). :"},
      {"12000...", "Updates %@ Firmware (%@)...."},
      {"13101:", "Yes :"},
      {"13200", ""},        // one quote alone: nothing is left, and nothing breaks
      {"13201", "Smile "},  // the last character goes whole
      {"11013", "Abort"},   // a later line replaces an earlier one
      {"15000", "last line"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(texts.getLocalizedString(c.id), c.expected) << c.id;
  // Too few fields, no tab, no such id.
  for (const char* id : {"14000", "no tab here", "12000::", "12000.."}) {
    EXPECT_FALSE(CMLocalize::isCorrectLocalizedString(texts.getLocalizedString(id))) << id;
  }
}

TEST(LocalizedStrings, PlaceholdersAreUniqueAndRecognised) {
  CMLocalize texts = Texts({"en"}, {"English"});
  std::set<std::string> seen;
  for (auto id : {std::optional<std::string_view>("99999"), std::optional<std::string_view>("99999"),
                  std::optional<std::string_view>("IDS_NONE"), std::optional<std::string_view>()}) {
    const std::string text = texts.getLocalizedString(id);
    EXPECT_FALSE(CMLocalize::isCorrectLocalizedString(text)) << text;
    EXPECT_TRUE(seen.insert(text).second) << "repeated " << text;
  }
  EXPECT_FALSE(CMLocalize::isCorrectLocalizedString(std::nullopt));

  // Danish is beyond the table's columns: every row is skipped and every look-up is a placeholder.
  CMLocalize danish = Texts({"en"}, {"da"});
  EXPECT_EQ(danish.getCurrentLanguageNo(), 34);
  for (const char* id : {"12000", "12010", "13101", "IDGZ_CM5_JANUARY"}) {
    EXPECT_FALSE(CMLocalize::isCorrectLocalizedString(danish.getLocalizedString(id))) << id;
  }
  CMLocalize none = Texts({"en"}, {"English"}, false);
  EXPECT_FALSE(none.hasTable());
  EXPECT_NE(none.getLocalizedString("12000"), none.getLocalizedString("12000"));
}

TEST(LocalizedStrings, CalendarTexts) {
  CMLocalize texts = Texts({"en"}, {"English"});
  EXPECT_EQ(texts.getLocalizedMonthString(1), "January");
  EXPECT_EQ(texts.getLocalizedMonthString(13), "");
  EXPECT_EQ(texts.getLocalizedMonthString(0), "");
  EXPECT_EQ(texts.getLocalizedYearString(2024), "Year 2024");  // "%s" read as "%@" takes the number
  EXPECT_TRUE(texts.isStartFromSundayInMonthCalendar());
  EXPECT_FALSE(Texts({"de"}, {"German"}).isStartFromSundayInMonthCalendar());
}

TEST(LocalizeText, EscapesFormattingAndKlcTable) {
  struct Case {
    const char* stored;
    const char* shown;
  };
  const Case escapes[] = {{"a\\nb\\tc", "a\nb\tc"}, {"%s and %s", "%@ and %@"}, {"\\\\n", "\\\n"},
                          {"\\x \\\" \\", "\\x \\\" \\"}, {"100%", "100%"}};
  for (const Case& c : escapes) EXPECT_EQ(ReplaceLocalizeEscapes(c.stored), c.shown) << c.stored;

  EXPECT_EQ(FormatLocalizedText("%d%% %ld %@", {"7", "8"}), "7% 8 ");  // a missing argument is empty
  EXPECT_EQ(FormatLocalizedText("%x %n %s %", {"1"}), "%x %n %s %");  // nothing else reads an argument

  const std::string klc = std::string("KEY\tJPN\tENU\r\nIDS_A\tx\tAlpha\r\nIDS_B\tx\t\xFF\r\nIDS_C\tx\r\n") +
                          std::string("IDS_D\0junk\tx\tDelta\r\n", 20) + "IDS_E\ty\rEcho\r\n\tx\tno key\r\nIDS_F\tx\tLast";
  const LocalizeTable expected = {
      {"IDS_A", "Alpha"}, {"IDS_B", ""}, {"IDS_D", "Delta"}, {"IDS_E", "Echo"}, {"IDS_F", "Last"}};
  EXPECT_EQ(ReadKlcTable(std::span(reinterpret_cast<const uint8_t*>(klc.data()), klc.size())), expected);
}

// A window or menu as localizeObjects sees it, recording every title it is given.
struct FakeObject : LocalizableObject {
  FakeObject(Kind k, std::string t, std::vector<std::string>* l) : kind_(k), title_(std::move(t)), log(l) {}
  Kind kind() const override { return kind_; }
  std::string title() const override { return title_; }
  void setTitle(const std::string& title) override { log->push_back(std::exchange(title_, title) + "->" + title); }
  std::vector<LocalizableObject*> items() override { return items_; }
  LocalizableObject* submenu() override { return submenu_; }

  Kind kind_;
  std::string title_;
  std::vector<std::string>* log;
  std::vector<LocalizableObject*> items_;
  LocalizableObject* submenu_ = nullptr;
};

TEST(LocalizeObjects, WindowTitleAndMenusDepthFirst) {
  using Kind = LocalizableObject::Kind;
  CMLocalize texts = Texts({"en"}, {"English"});
  std::vector<std::string> log;
  FakeObject window(Kind::Window, "11013", &log), view(Kind::View, "11013", &log), plain(Kind::Window, "Plain", &log);
  texts.localizeObjects(&window);
  texts.localizeObjects(&view);
  texts.localizeObjectsRelativeTo(&plain);
  EXPECT_EQ(log, (std::vector<std::string>{"11013->Abort"}));

  log.clear();
  FakeObject menu(Kind::Menu, "13101", &log), first(Kind::MenuItem, "12000:", &log);
  FakeObject withSubmenu(Kind::MenuItem, "11013", &log), submenu(Kind::Menu, "IDGZ_CM5_JANUARY", &log);
  FakeObject inner(Kind::MenuItem, "13101", &log), unknown(Kind::MenuItem, "Keep me", &log);
  menu.items_ = {&first, &withSubmenu, &unknown};
  withSubmenu.submenu_ = &submenu;
  submenu.items_ = {&inner};
  texts.localizeObjects(&menu);
  EXPECT_EQ(log, (std::vector<std::string>{"12000:->Updates %@ Firmware (%@). :", "13101->Yes",
                                           "IDGZ_CM5_JANUARY->January", "11013->Abort", "13101->Yes"}));
}

}  // namespace
