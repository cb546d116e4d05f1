// File names and running programs.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "mac/shared/file_names.h"
#include "mac/shared/processes.h"

namespace {

TEST(RenameIfExist, FirstFreeNumberedName) {
  struct Case {
    const char* path;
    std::set<std::string> existing;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"/x/Twinflash.app", {}, "/x/Twinflash.app"},
      {"/x/Twinflash.app", {"/x/Twinflash.app"}, "/x/Twinflash_0001.app"},
      {"/x/Twinflash.app", {"/x/Twinflash.app", "/x/Twinflash_0001.app"}, "/x/Twinflash_0002.app"},
      {"/x/Twinflash.app/", {"/x/Twinflash.app/"}, "/x/Twinflash_0001.app"},
      {"/x.d/README", {"/x.d/README"}, "/x.d/README_0001"},  // a dot in the folder is no extension
      {"/x/a.b.c", {"/x/a.b.c"}, "/x/a.b_0001.c"},
      {"/x/.hidden", {"/x/.hidden"}, "/x/.hidden_0001"},
      {"", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(renameIfExistAtPath(c.path, [&](const std::string& p) { return c.existing.contains(p); }), c.expected)
        << c.path;
  }
  int asked = 0;
  EXPECT_EQ(renameIfExistAtPath("/x/T.app", [&](const std::string&) { return ++asked, true; }), std::nullopt);
  EXPECT_EQ(asked, 10000);  // the path itself and _0001 ... _9999
}

TEST(InsensitiveResourceName, FirstEntryThatMatches) {
  const std::vector<std::string> entries = {"Info.plist", "FwUpDate.INI", "fwupdate.ini"};
  EXPECT_EQ(stringWithInsensitiveResourcePathName("fwupdate.ini", "/R/", entries), "/R/FwUpDate.INI");
  EXPECT_EQ(stringWithInsensitiveResourcePathName("FwUpDate", "/R", entries), std::nullopt);
  EXPECT_EQ(stringWithInsensitiveResourcePathName(std::nullopt, "/R", entries), std::nullopt);
}

std::vector<uint8_t> ProcessTable(const std::vector<std::string>& names) {
  std::vector<uint8_t> table(names.size() * kProcessRecordSize, 0xAA);  // no zero outside the names
  for (size_t i = 0; i < names.size(); ++i) {
    uint8_t* field = &table[i * kProcessRecordSize + kProcessCommandNameOffset];
    std::memset(field, 0, kProcessCommandNameSize);
    std::memcpy(field, names[i].data(), std::min(names[i].size(), kProcessCommandNameSize));
  }
  return table;
}

TEST(ProcessRecords, NamesAreBoundedByTheirFieldAndRecord) {
  auto table = ProcessTable({"Finder", "launchd", "FinderFinderFinderFinder", "Finder"});
  EXPECT_EQ(ProcessCommandNames(table),
            (std::vector<std::string>{"Finder", "launchd", "FinderFinderFinde", "Finder"}));
  EXPECT_EQ(CountFinderProcesses(table), 2u);

  // A record cut short (the table grew between two looks) is not read, even when its name is there.
  const auto partial = ProcessTable({"Finder"});
  table.insert(table.end(), partial.begin(), partial.begin() + kProcessCommandNameOffset + 7);
  EXPECT_EQ(CountFinderProcesses(table), 2u);
}

TEST(RunningPrograms, ByApplicationName) {
  struct Case {
    std::vector<std::string> names;
    bool player, tunebox, secondReflash, secondTwinflash;
  };
  const Case cases[] = {
      {{}, false, false, false, false},
      {{"Finder", "VoxPlayer"}, true, false, false, false},
      {{"VoxPlayer for Mac", "Kestrel Tunebox"}, true, true, false, false},
      {{"voxplayer", "VoxPlayer Lite", "Kestrel Tunebox 2", "Firmware Update"}, false, false, false, false},
      {{"Firmware Update", "TWINFLASH", "Firmware Update"}, false, false, true, false},
      {{"TWINFLASH", "TWINFLASH"}, false, false, false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isRunningVoxPlayer(c.names), c.player);
    EXPECT_EQ(isRunningKestrelTunebox(c.names), c.tunebox);
    EXPECT_EQ(isRunningReflash(c.names, kReflashApplicationName), c.secondReflash);
    EXPECT_EQ(isRunningReflash(c.names, kTwinflashApplicationName), c.secondTwinflash);
  }
}

}  // namespace

TEST(ShellEscape, BlanksAsTheWrapperWritesThemAndEveryOtherMetacharacterToo) {
  EXPECT_EQ(EscapePathForShell("/Applications/My Tools/Twinflash.app"), "/Applications/My\\ Tools/Twinflash.app");
  EXPECT_EQ(EscapePathForShell("/a-b_c,d:e@f+g.app"), "/a-b_c,d:e@f+g.app");
  // Whatever the path holds, the shell reads it back as it was.
  const std::string paths[] = {
      "/Applications/My Tools (x86) & $HOME 'q' \"d\" `id` ;|<>*?[]#~=%!{}^\\\t.app",
      "/Applications/\xE6\x97\xA5\xE6\x9C\xAC/Twinflash.app",
      "/line\nfeed",
  };
  for (const std::string& path : paths) {
    FILE* shell = popen(("printf '%s' " + EscapePathForShell(path)).c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string back;
    char buffer[256];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, shell)) > 0;) back.append(buffer, n);
    pclose(shell);
    EXPECT_EQ(back, path);
  }
}
