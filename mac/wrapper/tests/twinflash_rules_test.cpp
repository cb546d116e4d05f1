// Twinflash's rules: its configuration, the bundle it must be, the messages of its start, the shell
// command of a stage (run through this machine's shell), and the end of a stage.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "mac/platform/shell.h"
#include "mac/wrapper/twinflash_rules.h"

namespace fs = std::filesystem;

namespace {

IniSection CompleteInfo() {
  return {{"MODEL", "ZT-5100"},
          {"FW_PATH1", "/MODULES/Reflash1.app"},
          {"FW_PATH2", "/MODULES/Reflash2.app"},
          {"GROSSARY_PATH", "/MODULES/glossaries.txt"},
          {"1ST_DIALOG_IMAGE", "/IMAGES/wizard1.jpg"},
          {"2ND_DIALOG_IMAGE", "/IMAGES/wizard2.jpg"}};
}

TEST(TwinflashConfig, EveryPathKeyIsRequiredAndOnlyYesAdmitsThePlayer) {
  const IniSection whole = CompleteInfo();
  const auto complete = ReadTwinflashConfig(&whole);
  ASSERT_TRUE(complete);
  EXPECT_EQ(complete->model, "ZT-5100");
  EXPECT_EQ(complete->fwPath1, "/MODULES/Reflash1.app");
  EXPECT_EQ(complete->fwPath2, "/MODULES/Reflash2.app");
  EXPECT_EQ(complete->grossaryPath, "/MODULES/glossaries.txt");
  EXPECT_EQ(complete->st1DialogImagePath, "/IMAGES/wizard1.jpg");
  EXPECT_EQ(complete->nd2DialogImagePath, "/IMAGES/wizard2.jpg");
  EXPECT_FALSE(complete->admitLaunch);

  for (const char* key : {"MODEL", "FW_PATH1", "FW_PATH2", "GROSSARY_PATH", "1ST_DIALOG_IMAGE", "2ND_DIALOG_IMAGE"}) {
    IniSection info = CompleteInfo();
    info.erase(key);
    EXPECT_FALSE(ReadTwinflashConfig(&info)) << key;
  }
  EXPECT_FALSE(ReadTwinflashConfig(nullptr));

  const struct {
    const char* value;
    bool admitted;
  } admit[] = {{"YES", true}, {"NO", false}, {"yes", false}, {"", false}};
  for (const auto& row : admit) {
    IniSection info = CompleteInfo();
    info["AdmitLaunch"] = row.value;
    EXPECT_EQ(ReadTwinflashConfig(&info)->admitLaunch, row.admitted) << row.value;
  }
}

TEST(TwinflashConfig, ReadFromTheFileAsTheWrapperWritesIt) {
  const IniSectionTable table = ParseIniText(
      "[INFO]\r\nMODEL = ZT-5100 ; the recorder\r\nFW_PATH1=/MODULES/Reflash1.app\r\nFW_PATH2=/MODULES/Reflash2.app\r\n"
      "GROSSARY_PATH=/MODULES/glossaries.txt\r\n1ST_DIALOG_IMAGE=/IMAGES/wizard1.jpg\r\n2ND_DIALOG_IMAGE=/IMAGES/wizard2.jpg\r\n"
      "AdmitLaunch=YES\r\n");
  const auto config = ReadTwinflashConfig(&table.at(std::string(kTwinflashSection)));
  ASSERT_TRUE(config);
  EXPECT_EQ(config->model, "ZT-5100");
  EXPECT_TRUE(config->admitLaunch);
}

// A bundle's folders, listed by their path below the resources.
using Folders = std::map<std::string, std::vector<std::string>>;

Folders CompleteBundle() {
  return {{"", {"TWINFLASH.INI", "KextV2", "KextV3", "MODULES", "IMAGES", "Leopard.bundle", "CopyKextTool"}},
          {"MODULES", {"Reflash1.app", "Reflash2.app", "glossaries.txt"}},
          {"IMAGES", {"wizard1.jpg", "wizard2.jpg"}},
          {"KextV2", {"KestrelDSSDriver.kext"}},
          {"KextV3", {"KestrelDSSDriver.kext"}}};
}

TEST(TwinflashResources, EachRequiredItemMissingStopsTheStart) {
  const IniSection info = CompleteInfo();
  const TwinflashConfig config = *ReadTwinflashConfig(&info);
  auto without = [](std::string folder, std::string entry) {
    return [folder, entry](Folders& f) { std::erase(f[folder], entry); };
  };
  auto unlisted = [](std::string folder) { return [folder](Folders& f) { f.erase(folder); }; };
  const struct {
    const char* name;
    std::function<void(Folders&)> damage;
    bool complete;
  } cases[] = {
      {"complete", [](Folders&) {}, true},
      {"optional plug-in and tool missing",
       [](Folders& f) {
         std::erase(f[""], "Leopard.bundle");
         std::erase(f[""], "CopyKextTool");
       },
       true},
      {"resources unreadable", unlisted(""), false},
      {"MODULES unreadable", unlisted("MODULES"), false},
      {"IMAGES unreadable", unlisted("IMAGES"), false},
      {"TWINFLASH.INI", without("", "TWINFLASH.INI"), false},
      {"KextV2 folder", without("", "KextV2"), false},
      {"KextV3 folder", without("", "KextV3"), false},
      {"driver in KextV2", without("KextV2", "KestrelDSSDriver.kext"), false},
      {"driver in KextV3 in another case",
       [](Folders& f) { f["KextV3"] = {"kestrelDSSdriver.kext"}; }, false},
      {"page 1 picture", without("IMAGES", "wizard1.jpg"), false},
      {"page 2 picture", without("IMAGES", "wizard2.jpg"), false},
      {"glossary table", without("MODULES", "glossaries.txt"), false},
      {"stage 1 updater", without("MODULES", "Reflash1.app"), false},
      {"stage 2 updater", without("MODULES", "Reflash2.app"), false},
  };
  for (const auto& c : cases) {
    Folders folders = CompleteBundle();
    c.damage(folders);
    const bool complete = HasTwinflashResources(config, [&](std::string_view folder) -> std::optional<std::vector<std::string>> {
      const auto found = folders.find(std::string(folder));
      if (found == folders.end()) return std::nullopt;
      return found->second;
    });
    EXPECT_EQ(complete, c.complete) << c.name;
  }
}

TEST(TwinflashStart, EachResultShowsItsMessage) {
  const struct {
    int32_t status;
    int32_t blockedBy;
    std::optional<uint32_t> message;  // 0: the bundle's "buildError"
  } rows[] = {
      {kStartReady, 0, std::nullopt},
      {kStartRestartPending, 0, 13009},
      {kStartAlreadyRunning, 0, 13010},
      {kStartProgramRunning, kBlockedByPlayer, 13005},
      {kStartProgramRunning, kBlockedByTunebox, 13104},
      {kStartProgramRunning, 0, 0},
      {kStartNeedDriver, 0, 13008},
      {kStartBuildError, 0, 0},
      {-1, 0, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(StartupMessage(row.status, row.blockedBy), row.message) << row.status << "/" << row.blockedBy;
  }
}

TEST(TwinflashStage, CommandForABundlePathWithBlanks) {
  EXPECT_EQ(StageCommand("/Applications/My Tools/Twinflash.app", "/MODULES/Sub.app", 1),
            "/Applications/My\\ Tools/Twinflash.app/Contents/Resources/MODULES/Sub.app/Contents/MacOS/Reflash -nc1");
  EXPECT_EQ(StageCommand("/Applications/Twinflash.app", "/MODULES/Reflash2.app", 2),
            "/Applications/Twinflash.app/Contents/Resources/MODULES/Reflash2.app/Contents/MacOS/Reflash -nc2");
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Whatever the folder of the bundle holds, the shell starts exactly the stage updater, with "-nc1"
// as its only argument, and nothing else.
TEST(TwinflashStage, EveryShellCharacterInTheBundlePathStaysPartOfThePath) {
  const fs::path base = fs::temp_directory_path() / ("zt-twin-shell-" + std::to_string(getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  const std::string specials[] = {" ", "'", "\"", "$", "$HOME", "`", "`touch ran`", ";", ";touch ran;", "&", "|",
                                  "<", ">", "(", ")", "*", "?", "[", "]", "#", "~", "=", "%", "!", "{", "}",
                                  "^", "\\", "\t", "\n", "$(touch ran)"};
  for (const std::string& special : specials) {
    SCOPED_TRACE("folder holding [" + special + "]");
    const fs::path bundle = base / ("My" + special + "Tools") / "Twinflash.app";
    const fs::path macos = bundle / "Contents/Resources/MODULES/Reflash1.app/Contents/MacOS";
    fs::create_directories(macos);
    const fs::path report = base / "report";
    fs::remove(report);
    {
      std::ofstream script(macos / "Reflash");
      script << "#!/bin/sh\nprintf '%s|%s|%s' \"$0\" \"$#\" \"$1\" > " << mac::QuoteForShell(report.string()) << "\n";
    }
    fs::permissions(macos / "Reflash", fs::perms::owner_all);
    const std::string command = StageCommand(bundle.string(), "/MODULES/Reflash1.app", 1);
    const std::string inBase = "cd " + mac::QuoteForShell(base.string()) + " && " + command;
    const int status = std::system(inBase.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    EXPECT_EQ(Slurp(report), (macos / "Reflash").string() + "|1|-nc1") << command;
    EXPECT_FALSE(fs::exists(base / "ran")) << command;
    fs::remove_all(base / ("My" + special + "Tools"));
  }
  fs::remove_all(base);
}

TEST(TwinflashStage, TheEndOfAStageByItsNumberAndTheMarker) {
  const struct {
    uint32_t updateNo;
    bool marker;
    StageEnd action;
    bool removeMarker;
    bool clearWizardNo;
  } rows[] = {
      {1, true, StageEnd::ShowPage2, true, false},
      {1, false, StageEnd::Close, false, false},
      {2, true, StageEnd::Close, true, true},
      {2, false, StageEnd::Close, false, true},
      {0, true, StageEnd::Close, false, false},
      {0, false, StageEnd::Close, false, false},
  };
  for (const auto& row : rows) {
    const StageEndDecision d = DecideStageEnd(row.updateNo, row.marker);
    EXPECT_EQ(d.action, row.action) << row.updateNo << row.marker;
    EXPECT_EQ(d.removeMarker, row.removeMarker) << row.updateNo << row.marker;
    EXPECT_EQ(d.clearWizardNo, row.clearWizardNo) << row.updateNo << row.marker;
  }
}

}  // namespace
