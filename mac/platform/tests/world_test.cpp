// The simulated Mac on disk: its world file, its case-insensitive disk, the bundle's strings files
// and localizations, and the shell's view of the Mac's paths.
#include "mac/platform/world.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

#include "mac/platform/platform.h"
#include "mac/platform/shell.h"
#include "mac/platform/strings.h"

namespace mac {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) { return {reinterpret_cast<const uint8_t*>(text.data()), text.size()}; }

TEST(World, EveryEntryComesBackAsWritten) {
  WorldState world;
  world.userName = "Anna \"A\" Berg";
  world.uid = 502;
  world.users = 2;
  world.clockMs = 123456;
  world.nextPid = 310;
  world.recorder = "/tmp/dir with blanks/zt.sim";
  world.childLimitSeconds = 5;
  world.processes = {{300, 502, "VoxPlayer", "/Applications/VoxPlayer.app", false},
                     {4711, 502, "Firmware Update", "/Applications/A\\B.app", true}};
  world.loginItems = {{"/Users/anna/Library/Application Support/KESTREL/SCSIReflash/Reflash.app", false}, {"/x\ty.app", true}};
  world.passwords = {PasswordAnswer::Cancel, PasswordAnswer::Grant, PasswordAnswer::Refuse};
  world.restartRequested = true;
  std::string error;
  const auto back = ParseWorld(SerializeWorld(world), &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(*back, world);
  EXPECT_EQ(ParseWorld(SerializeWorld(WorldState{})), WorldState{});
}

TEST(World, RefusesWhatIsNotAWorldNamingTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"", "an empty world file"},
      {"ZT5100-SIM 1\n", "line 1: not a world file"},
      {"mac-sim world 1\nusers 0\n", "line 2: \"users\""},
      {"mac-sim world 1\nusers 65\n", "line 2: \"users\""},
      {"mac-sim world 1\n\n# fine\nprocess 0 501 \"A\" \"/a\"\n", "line 4: process"},
      {"mac-sim world 1\nprocess 12 501 \"A\" \"/a\" guest\n", "line 2: \"process\""},
      {"mac-sim world 1\nlogin-item \"/a\n", "line 2: text without its closing quote"},
      {"mac-sim world 1\npassword maybe\n", "line 2: \"password\""},
      {"mac-sim world 1\nclock -5\n", "line 2: \"clock\""},
      {"mac-sim world 1\n\"user\" 501\n", "line 2: a line starts with its name"},
      {"mac-sim world 1\nrecorder \"a\\qb\"\n", "line 2: unknown escape \\q"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseWorld(c.text, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave: " << error;
  }
}

TEST(World, AProcessOfThisMachineThatEndedLeavesTheWorldOnTheNextRead) {
  const auto dir = std::filesystem::temp_directory_path() / ("zt-world-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  WorldState state;
  state.processes = {{getpid(), 501, "Alive", "/a.app", true}, {ended, 501, "Crashed", "/c.app", true},
                     {ended, 501, "Simulated", "/s.app", false}};
  World world(WorldFilePath(dir));
  std::string error;
  ASSERT_TRUE(world.create(state, error)) << error;
  const auto read = world.read(error);
  ASSERT_TRUE(read) << error;
  ASSERT_EQ(read->processes.size(), 2u);
  EXPECT_EQ(read->processes[0].name, "Alive");
  EXPECT_EQ(read->processes[1].name, "Simulated") << "a simulated process has no process of this machine";
  std::filesystem::remove_all(dir);
  EXPECT_FALSE(world.read(error));
  EXPECT_NE(error.find("no simulated Mac here"), std::string::npos) << error;
}

TEST(MacDisk, FindsNamesInAnyCaseAndKeepsTheCaseTheyWereMadeWith) {
  Platform mac;
  FileManager& files = mac.fileManager();
  ASSERT_TRUE(files.createDirectoryAtPath("/tmp/MODULES"));
  ASSERT_TRUE(files.createFileAtPath("/tmp/modules/glossaries.txt", "text"));
  EXPECT_TRUE(files.fileExistsAtPath("/tmp/Modules/Glossaries.TXT"));
  EXPECT_EQ(files.contentsAtPath("/TMP/MODULES/GLOSSARIES.TXT"), (std::vector<uint8_t>{'t', 'e', 'x', 't'}));
  EXPECT_FALSE(files.createDirectoryAtPath("/tmp/modules")) << "the same folder";
  EXPECT_EQ(files.directoryContentsAtPath("/tmp/modules"), std::vector<std::string>{"glossaries.txt"});
  EXPECT_EQ(files.directoryContentsAtPath("/tmp")->front(), "MODULES");
  EXPECT_EQ(files.hostPath("/tmp/modules/New File.TXT"), mac.fileManager().root() / "tmp/MODULES/New File.TXT");
  ASSERT_TRUE(files.createFileAtPath("/tmp/modules/GLOSSARIES.txt", "new"));
  EXPECT_EQ(files.directoryContentsAtPath("/tmp/modules"), std::vector<std::string>{"glossaries.txt"}) << "written in place";
  EXPECT_TRUE(files.removeFileAtPath("/TMP/Modules"));
  EXPECT_FALSE(files.fileExistsAtPath("/tmp/MODULES"));
  // Only ASCII letters are folded.
  ASSERT_TRUE(files.createFileAtPath("/tmp/\xC3\xA4.txt", "a"));
  EXPECT_FALSE(files.fileExistsAtPath("/tmp/\xC3\x84.txt"));
}

TEST(StringsFile, ReadsWhatBundlesCarry) {
  const std::string utf8 =
      "/* a comment */\n\"buildError\" = \"The application could not start.\";\n"
      "// another\nCFBundleName = \"Firmware\\tUpdate\\n\\\"x\\\" \\U00e9\\Ud83d\\Ude00\";\n"
      "\"buildError\" = \"second\";";
  auto table = ParseStrings(Bytes(utf8));
  ASSERT_TRUE(table);
  EXPECT_EQ(table->at("buildError"), "The application could not start.") << "the first wins";
  EXPECT_EQ(table->at("CFBundleName"), "Firmware\tUpdate\n\"x\" \xC3\xA9\xF0\x9F\x98\x80");

  std::vector<uint8_t> utf16{0xFF, 0xFE};
  for (const char c : std::string("\"k\" = \"v\";")) utf16.insert(utf16.end(), {static_cast<uint8_t>(c), 0});
  table = ParseStrings(utf16);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->at("k"), "v");
  EXPECT_TRUE(ParseStrings(Bytes("\xEF\xBB\xBF")).value().empty());

  const char* const broken[] = {"\"k\" = \"v\"", "\"k\" \"v\";", "\"k\" = \"v;", "/* open", "\"k\" = \"\\U12\";",
                                "\"k\" = \"\\q\";", "= \"v\";", "\"k\" = ;", "\xFF\x41"};
  for (const char* text : broken) {
    std::string error;
    EXPECT_FALSE(ParseStrings(Bytes(text), &error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

TEST(BundleLocalizations, TheUsersFirstLanguageTheBundleHasThenItsDevelopmentRegion) {
  struct Case {
    std::vector<std::string> available;
    std::vector<std::string> languages;
    std::vector<std::string> chosen;
  };
  const Case cases[] = {
      {{"English", "Japanese"}, {"ja", "en"}, {"Japanese", "English"}},
      {{"en", "ja"}, {"fr", "ja"}, {"ja", "en"}},
      {{"English"}, {"de"}, {"English"}},
      {{"English", "de"}, {"en-GB"}, {"English"}},
      {{"zh_CN", "English"}, {"zh-Hans", "en"}, {"zh_CN", "English"}},
      {{"zh_TW", "English"}, {"zh-Hans"}, {"English"}},
      {{}, {"ja"}, {"English"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Bundle::PreferredLocalizationsFor(c.available, c.languages, "English"), c.chosen);
}

TEST(BundleStrings, LocalizedInTheChosenLanguageElseTheNextElseInfoList) {
  PlatformOptions options;
  options.localizations = {"Japanese", "English"};
  Platform mac(options);
  FileManager& files = mac.fileManager();
  const std::string resources = options.bundlePath + "/Contents/Resources";
  for (const char* folder : {"/Applications/Firmware Update.app", "/Applications/Firmware Update.app/Contents",
                             "/Applications/Firmware Update.app/Contents/Resources", "/Applications/Firmware Update.app/Contents/Resources/Japanese.lproj",
                             "/Applications/Firmware Update.app/Contents/Resources/English.lproj"}) {
    ASSERT_TRUE(files.createDirectoryAtPath(folder));
  }
  files.createFileAtPath(resources + "/Japanese.lproj/Localizable.strings", "\"buildError\" = \"JA\";");
  files.createFileAtPath(resources + "/English.lproj/Localizable.strings", "\"buildError\" = \"EN\"; \"only\" = \"en\";");
  files.createFileAtPath(resources + "/English.lproj/InfoPlist.strings", "CFBundleName = \"Localized\";");
  files.createFileAtPath(options.bundlePath + "/Contents/Info.plist",
                         XmlPropertyList(PlistValue{PlistDictionary{{"CFBundleName", PlistValue{std::string("Plain")}},
                                                                     {"CFBundleVersion", PlistValue{std::string("7")}}}}));
  const Bundle& bundle = mac.mainBundle();
  EXPECT_EQ(bundle.localizedString("buildError"), "JA");
  EXPECT_EQ(bundle.localizedString("only"), "en");
  EXPECT_FALSE(bundle.localizedString("missing"));
  EXPECT_EQ(bundle.localizedInfoString("CFBundleName"), "Localized");
  EXPECT_EQ(bundle.localizedInfoString("CFBundleVersion"), "7");
}

TEST(MacShell, PathsIntoTheMacAreMappedTheRestKept) {
  Platform mac;
  FileManager& files = mac.fileManager();
  ASSERT_TRUE(files.createDirectoryAtPath("/Applications/My Tools (1) & 'more'"));
  const std::string root = files.root().string();
  auto host = [&](const std::string& p) { return QuoteForShell(root + p); };
  struct Case {
    std::string command;
    std::string mapped;
  };
  const Case cases[] = {
      {"/Applications/My\\ Tools\\ \\(1\\)\\ \\&\\ \\'more\\'/A.app/Contents/MacOS/A -nc1",
       host("/Applications/My Tools (1) & 'more'/A.app/Contents/MacOS/A") + " -nc1"},
      {"'/applications/my tools (1) & '\\''more'\\''/x' \"/tmp/a b\"",
       host("/Applications/My Tools (1) & 'more'/x") + " " + host("/tmp/a b")},
      {"/bin/echo /tmp/x>/tmp/out;ls /tmp|wc", "/bin/echo " + host("/tmp/x") + ">" + host("/tmp/out") + ";ls " + host("/tmp") + "|wc"},
      {"echo $HOME/tmp /tmp/* \"/tmp/$x\"", "echo $HOME/tmp /tmp/* \"/tmp/$x\""},
      {"echo //tmp /nowhere/x relative/tmp # /tmp", "echo //tmp /nowhere/x relative/tmp # /tmp"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MapCommandToHost(c.command, files), c.mapped) << c.command;
}

TEST(MacShell, OnlyAProgramWithItsArgumentsIsASimpleCommand) {
  for (const char* simple : {"'/x y/A' -nc1", "/a\\ b/c\\;d -x", "a 'b;c' d"}) EXPECT_TRUE(IsSimpleCommand(simple)) << simple;
  for (const char* other : {"a; b", "a | b", "a > f", "A=1 b", "a $x", "a \"b\"", "a `b`", "a # c", "a 'open", "a\nb", "(a)"}) {
    EXPECT_FALSE(IsSimpleCommand(other)) << other;
  }
}

TEST(MacShell, StatusAsSystemGivesIt) {
  struct Case {
    const char* command;
    bool exited;
    int code;
  };
  const Case cases[] = {{"exit 0", true, 0},
                        {"exit 3", true, 3},
                        {"kill -SEGV $$", false, SIGSEGV},
                        {"/bin/sh -c 'kill -SEGV $$'", false, SIGSEGV},  // the program's crash, not the shell's 139
                        {"/bin/sh -c 'kill -SEGV $$'; exit 5", true, 5},
                        {"/nonexistent/x", true, 127}};
  for (const Case& c : cases) {
    const ChildRun run = RunShell(c.command, {}, std::chrono::seconds(10));
    EXPECT_EQ(WIFEXITED(run.status), c.exited) << c.command;
    EXPECT_EQ(c.exited ? WEXITSTATUS(run.status) : WTERMSIG(run.status), c.code) << c.command;
  }
  const auto start = std::chrono::steady_clock::now();
  const ChildRun stuck = RunShell("sleep 30; exit 0", {}, std::chrono::milliseconds(200));
  EXPECT_TRUE(stuck.timedOut);
  EXPECT_TRUE(WIFSIGNALED(stuck.status));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(DescribeStatus(stuck.status), "killed by signal 9");
}

}  // namespace
}  // namespace mac
