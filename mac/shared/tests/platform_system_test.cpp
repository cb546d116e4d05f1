// The plain functions on a simulated Mac: files, resources, running programs, users and the system
// version.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "mac/shared/processes.h"
#include "mac/shared/system.h"
#include "mac/shared/tests/bound_mac.h"

namespace {

TEST(BoundFiles, RenameIfExistLooksAtTheDisk) {
  BoundMac bound;
  struct Case {
    std::vector<std::string> existing;
    std::optional<std::string_view> path;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {{}, "/x/Twinflash.app", "/x/Twinflash.app"},
      {{"/x/Twinflash.app"}, "/x/Twinflash.app", "/x/Twinflash_0001.app"},
      {{"/x/Twinflash_0001.app"}, "/x/Twinflash.app", "/x/Twinflash_0002.app"},
      {{}, "", std::nullopt},
      {{}, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    for (const std::string& path : c.existing) bound.MakeFolders(path);
    EXPECT_EQ(renameIfExistAtPath(c.path), c.expected) << c.path.value_or("(none)");
  }
}

TEST(BoundFiles, AliasDataOfAnExistingItemOnly) {
  BoundMac bound;
  bound.Write("/Applications/Firmware Update.app/Contents/Info.plist", "x");
  const auto alias = filePathToAliasData("/Applications/Firmware Update.app");
  ASSERT_TRUE(alias);
  const std::string path = "/Applications/Firmware Update.app";
  std::vector<uint8_t> expected = {'a', 'l', 'i', 's', 0, static_cast<uint8_t>(6 + path.size())};
  expected.insert(expected.end(), path.begin(), path.end());
  EXPECT_EQ(*alias, expected);
  EXPECT_EQ(filePathToAliasData("/Applications/Missing.app"), std::nullopt);
  EXPECT_EQ(filePathToAliasData("relative/path"), std::nullopt);
  EXPECT_EQ(filePathToAliasData(std::nullopt), std::nullopt);
}

TEST(BoundFiles, ResourcesByNameInAnyCase) {
  BoundMac bound;
  EXPECT_EQ(stringWithInsensitiveResourcePathName("fwupdate.ini"), std::nullopt) << "an empty folder";
  bound.Write(bound.resources() + "/FwUpDate.INI", "[FIRMWARE]\n");
  bound.MakeFolders(bound.resources() + "/KextV2");
  EXPECT_EQ(stringWithInsensitiveResourcePathName("fwupdate.ini"), bound.resources() + "/FwUpDate.INI");
  EXPECT_EQ(stringWithInsensitiveResourcePathName("FWUPDATE.INI"), bound.resources() + "/FwUpDate.INI");
  EXPECT_EQ(stringWithInsensitiveResourcePathName("kextv2"), bound.resources() + "/KextV2");
  EXPECT_EQ(stringWithInsensitiveResourcePathName("FwUpDate"), std::nullopt);
  EXPECT_EQ(stringWithInsensitiveResourcePathName(std::nullopt), std::nullopt);

  ASSERT_TRUE(bound.mac.fileManager().removeFileAtPath(bound.mac.options().bundlePath));
  EXPECT_EQ(stringWithInsensitiveResourcePathName("fwupdate.ini"), std::nullopt) << "no resources folder";
}

TEST(BoundProcesses, RunningProgramsByTheirApplicationNames) {
  struct Case {
    const char* what;
    MacProgram program;
    std::vector<std::string> launched;
    bool player, tunebox, second;
  };
  const Case cases[] = {
      {"nothing else runs", MacProgram::Reflash, {}, false, false, false},
      {"the player", MacProgram::Reflash, {"VoxPlayer"}, true, false, false},
      {"the player's long name and the audio application", MacProgram::Twinflash, {"VoxPlayer for Mac", "Kestrel Tunebox"},
       true, true, false},
      {"names that only look alike", MacProgram::Reflash, {"voxplayer", "Kestrel Tunebox 2", "Firmware Update 2"}, false,
       false, false},
      {"a second updater", MacProgram::Reflash, {"Firmware Update"}, false, false, true},
      {"an updater besides the wrapper", MacProgram::Twinflash, {"Firmware Update"}, false, false, false},
      {"a second wrapper", MacProgram::Twinflash, {"TWINFLASH"}, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mac::PlatformOptions options;
    if (c.program == MacProgram::Twinflash) options.applicationName = "TWINFLASH";
    BoundMac bound(options, c.program);
    for (const std::string& name : c.launched) bound.mac.workspace().launch(name);
    EXPECT_EQ(isRunningVoxPlayer(), c.player);
    EXPECT_EQ(isRunningKestrelTunebox(), c.tunebox);
    EXPECT_EQ(isRunningReflash(), c.second);
  }
}

TEST(BoundProcesses, TheProcessTableIsFetchedWholeAndAgainWhenItGrew) {
  BoundMac bound;
  mac::Processes& processes = bound.mac.processes();
  processes.growAfterNextSizeQuery(3);
  std::vector<uint8_t> table;
  size_t count = 99;
  ASSERT_EQ(GetBSDProcessList(&table, &count), 0);
  EXPECT_EQ(count, processes.table().size()) << "the three that started after the size was asked are there";
  EXPECT_EQ(table.size(), count * kProcessRecordSize);
  const auto names = ProcessCommandNames(table);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"launchd", "loginwindow", "Dock", "Finder", "Reflash", "mdworker"}));
}

TEST(BoundProcesses, UsersAreCountedByTheirFinders) {
  BoundMac bound;
  EXPECT_EQ(getUserCount(), 1u);
  bound.mac.processes().logInUser(502);
  EXPECT_EQ(getUserCount(), 2u);
  bound.mac.processes().start("Finder Helper");  // the kernel's name is all that counts
  bound.mac.workspace().launch("Finder");        // an application named so is a Finder process too
  EXPECT_EQ(getUserCount(), 3u);
}

using BoundProcessesDeathTest = testing::Test;

TEST_F(BoundProcessesDeathTest, AMisusedProcessListEndsTheProgramNamingTheCondition) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BoundMac bound;
  std::vector<uint8_t> table;
  std::vector<uint8_t> used(4);
  size_t count = 0;
  EXPECT_DEATH(GetBSDProcessList(nullptr, &count), "system\\.cpp:[0-9]+: failed assertion .list != nullptr");
  EXPECT_DEATH(GetBSDProcessList(&used, &count), "list->empty\\(\\)");
  EXPECT_DEATH(GetBSDProcessList(&table, nullptr), "count != nullptr");
}

TEST(BoundSystemVersion, FromTheSystemsVersionTextReadOnce) {
  struct Case {
    const char* version;           // as the platform's options give it
    const char* text;              // a different text set after construction, or none
    int32_t major, minor, patch;
    bool atLeast10_11_0, atLeast10_5_0;
  };
  const Case cases[] = {
      {"10.6.8", nullptr, 10, 6, 8, false, true},
      {"10.11.0", nullptr, 10, 11, 0, true, true},
      {"10.11", nullptr, 10, 11, 0, true, true},
      {"10.4.11", nullptr, 10, 4, 11, false, false},
      {"10.6.8", "10.6.8", 10, 5, 0, false, true},  // no second blank-separated part
      {"10.6.8", "", 10, 5, 0, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " / " + (c.text ? c.text : "-"));
    mac::PlatformOptions options;
    options.systemVersion = c.version;
    BoundMac bound(options);
    if (c.text) bound.mac.processInfo().setOperatingSystemVersionString(c.text);
    EXPECT_EQ(GetSystemMajorVersion(), c.major);
    EXPECT_EQ(GetSystemMinorVersion(), c.minor);
    EXPECT_EQ(GetSystemPatchVersion(), c.patch);
    EXPECT_EQ(isNewerThisSystemVersion(10, 11, 0), c.atLeast10_11_0);
    EXPECT_EQ(isNewerThisSystemVersion(10, 5, 0), c.atLeast10_5_0);

    // Kept for the program's life: a later text changes nothing.
    bound.mac.processInfo().setOperatingSystemVersionString("Version 11.2.3 (Build 20D91)");
    GetSystemVersion();
    EXPECT_EQ(GetSystemMajorVersion(), c.major);
  }
}

}  // namespace
