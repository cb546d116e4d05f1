// The library bound to a simulated Mac: INI files and glossary tables read from its disk, the
// language taken from its settings, and nothing left behind when the binding ends.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "common/utf.h"
#include "mac/shared/ini_file.h"
#include "mac/shared/localize.h"
#include "mac/shared/system.h"
#include "mac/shared/tests/bound_mac.h"

namespace {

std::string Utf16WithMark(std::string_view text) {
  std::string bytes = "\xFF\xFE";
  const std::u16string units = Utf8ToUtf16(text).value();
  for (char16_t c : units) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

TEST(MacLibrary, OneAtATimeAndNothingLeftBehind) {
  EXPECT_FALSE(MacLibrary::hasCurrent());
  EXPECT_THROW(MacLibrary::current(), std::logic_error);
  EXPECT_THROW(isRunningVoxPlayer(), std::logic_error) << "no platform to look at";
  {
    BoundMac bound;
    EXPECT_EQ(&MacLibrary::current(), &bound.library);
    EXPECT_THROW(MacLibrary(bound.mac, MacProgram::Twinflash), std::logic_error);
    EXPECT_EQ(&MacLibrary::current(), &bound.library) << "the refused binding changed nothing";

    bound.Write(bound.resources() + "/FwUpDate.INI", "[FIRMWARE]\nVersion=1.01\n");
    bound.Write(bound.resources() + "/glossaries.txt", "WinVal\tJPN\tENU\n10000\tJ\tFirmware Update Program\n");
    ASSERT_NE(FwUpIniFile::iniFileObject(bound.resources() + "/FwUpDate.INI"), nullptr);
    ASSERT_NE(CMLocalize::localizeObject(bound.resources() + "/glossaries.txt"), nullptr);
  }
  // The shared instances would otherwise keep reading through a platform that is gone.
  EXPECT_FALSE(MacLibrary::hasCurrent());
  EXPECT_EQ(FwUpIniFile::getObject(), nullptr);
  EXPECT_EQ(CMLocalize::getLocalizeObject(), nullptr);
  EXPECT_TRUE(FwUpIniFile::iniFileObject("/R/FwUpDate.INI")->sections().empty());
  EXPECT_FALSE(CMLocalize::localizeObject("/R/glossaries.txt")->hasTable());
  FwUpIniFile::releaseObject();
  CMLocalize::releaseObject();

  mac::Platform twinflash;
  {
    MacLibrary library = MacLibrary::forTwinflash(twinflash);
    EXPECT_EQ(&MacLibrary::current(), &library);
    EXPECT_EQ(library.applicationName(), "TWINFLASH");
    EXPECT_EQ(library.iniDecoding(), IniDecoding::Utf8Only);
  }
  MacLibrary library = MacLibrary::forReflash(twinflash);
  EXPECT_EQ(library.applicationName(), "Firmware Update");
  EXPECT_EQ(library.iniDecoding(), IniDecoding::UnicodeOrUtf8);
}

TEST(MacLibrary, EachProgramDecodesItsIniFilesItsOwnWay) {
  const std::string text = "[INFO]\r\nGROSSARY_PATH=/MODULES/glossaries.txt\r\n";
  struct Case {
    const char* what;
    MacProgram program;
    std::string bytes;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"Reflash, UTF-8", MacProgram::Reflash, text, "/MODULES/glossaries.txt"},
      {"Reflash, UTF-16 with mark", MacProgram::Reflash, Utf16WithMark(text), "/MODULES/glossaries.txt"},
      {"Twinflash, UTF-8", MacProgram::Twinflash, text, "/MODULES/glossaries.txt"},
      {"Twinflash, UTF-16 with mark: read as empty", MacProgram::Twinflash, Utf16WithMark(text), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BoundMac bound({}, c.program);
    const std::string path = bound.resources() + "/TWINFLASH.INI";
    bound.Write(path, c.bytes);
    FwUpIniFile* ini = FwUpIniFile::iniFileObject(path);
    ASSERT_NE(ini, nullptr);
    EXPECT_EQ(ini->getIniFileValue("GROSSARY_PATH", "INFO"), c.value);
    // A folder, a missing file and a path that climbs out of the disk read as missing.
    for (std::string missing : {bound.resources(), bound.resources() + "/twinflash.in", std::string("/../etc/passwd")}) {
      EXPECT_TRUE(FwUpIniFile::iniFileObject(missing)->sections().empty()) << missing;
    }
  }
}

const char* const kGlossary =
    "WinVal\tJPN\tENU\tFRA\tESP\tDEU\tITA\tRUS\tCHT\tCHS\tKOR\r\n"
    "10000\tファームウェアアップデートプログラム\tFirmware Update Program\tF\tE\tFirmware-Updateprogramm\tI\tR\tT\tS\tK\r\n"
    "13101\t\"はい\"\t\"Yes\"\tOui\tSí\tJa\tSì\tДа\t是\t是\t예\r\n";

TEST(MacLibrary, TextsInTheLanguageOfTheUsersSettingsFromTheResources) {
  struct Case {
    std::vector<std::string> languages, localizations;
    int number;
    const char* title;
    const char* yes;
  };
  const Case cases[] = {
      {{"en"}, {"English"}, 2, "Firmware Update Program", "Yes"},
      {{"ja", "en"}, {"Japanese"}, 1, "ファームウェアアップデートプログラム", "はい"},
      {{"de"}, {"German"}, 5, "Firmware-Updateprogramm", "Ja"},
      {{"en-US"}, {"German"}, 2, "Firmware Update Program", "Yes"},  // an unknown first language: English
      {{}, {"German"}, 2, "Firmware Update Program", "Yes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.localizations[0]);
    mac::PlatformOptions options;
    options.languages = c.languages;
    options.localizations = c.localizations;
    BoundMac bound(options);
    bound.Write(bound.resources() + "/glossaries.txt", Utf16WithMark(kGlossary));
    const auto path = bound.mac.mainBundle().pathForResource("glossaries", "txt");
    ASSERT_TRUE(path);
    CMLocalize* texts = CMLocalize::localizeObject(*path);
    ASSERT_NE(texts, nullptr);
    EXPECT_EQ(texts->getCurrentLanguageNo(), c.number);
    EXPECT_EQ(texts->getLocalizedString("10000"), c.title);
    EXPECT_EQ(texts->getLocalizedString("13101"), c.yes);
  }
}

TEST(MacLibrary, TheUsersSettingsAreAskedWhenTheTableIsRead) {
  mac::PlatformOptions options;
  options.languages = {"en-US"};
  options.localizations = {"Japanese"};
  BoundMac bound(options);
  bound.Write(bound.resources() + "/glossaries.txt", kGlossary);  // UTF-8 is read as well
  CMLocalize* texts = CMLocalize::localizeObject(bound.resources() + "/glossaries.txt");
  EXPECT_EQ(texts->getLocalizedString("10000"), "Firmware Update Program");
  bound.mac.userDefaults().setObject(std::string(mac::UserDefaults::kAppleLanguages), std::vector<std::string>{"ja"});
  texts->setLocalizeCSVFile(bound.resources() + "/glossaries.txt");
  EXPECT_EQ(texts->getLocalizedString("10000"), "ファームウェアアップデートプログラム");
  EXPECT_TRUE(texts->isStartFromSundayInMonthCalendar());
}

TEST(MacLibrary, TheOlderTableIsAResourceOfTheBundle) {
  BoundMac bound;
  EXPECT_FALSE(CMLocalize::getLocalizeStringsDictionaryWithLanguageNo(2)) << "no such resource";
  bound.Write(bound.resources() + "/localizeStrings.klc", "KEY\tJPN\tENU\r\nIDS_OK\tx\tOK\r\n");
  const auto table = CMLocalize::getLocalizeStringsDictionaryWithLanguageNo(2);
  ASSERT_TRUE(table);
  EXPECT_EQ(*table, (LocalizeTable{{"IDS_OK", "OK"}}));
}

}  // namespace
