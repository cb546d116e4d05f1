// The recorder's driver on a simulated Mac: where it is, whether it must be installed, and the
// installation with the administrator's password and the copy tool.
#include <gtest/gtest.h>

#include "mac/shared/kext.h"
#include "mac/shared/tests/bound_mac.h"

namespace {

mac::PlatformOptions OnSystem(std::string version) {
  mac::PlatformOptions options;
  options.systemVersion = std::move(version);
  return options;
}

TEST(Kext, WhereItIsCarriedAndInstalledOnEachSystem) {
  struct Case {
    const char* system;
    const char* source;
    const char* installed;
  };
  const Case cases[] = {
      {"10.6.8", "KextV2", "/System/Library/Extensions"},
      {"10.8.5", "KextV2", "/System/Library/Extensions"},
      {"10.9", "KextV3", "/Library/Extensions"},
      {"10.11.6", "KextV3", "/Library/Extensions"},
      {"11.2", "KextV2", "/System/Library/Extensions"},  // only the 10.x systems are known
  };
  for (const Case& c : cases) {
    BoundMac bound(OnSystem(c.system));
    EXPECT_EQ(GetNewKextPath(), bound.resources() + "/" + c.source + "/KestrelDSSDriver.kext") << c.system;
    EXPECT_EQ(GetKextInstallFolder(), c.installed) << c.system;
  }
}

TEST(Kext, PropertiesAndVersionFromTheBundlesInfoList) {
  BoundMac bound;
  bound.WriteKext("/tmp/A.kext", "1.2.9");
  EXPECT_EQ(*GetProperty("/tmp/A.kext", "CFBundleIdentifier")->string(), "com.kestrel.driver.DSS");
  EXPECT_EQ(*GetProperty("/tmp/A.kext/", "CFBundleShortVersionString")->string(), "1.2.9");
  EXPECT_FALSE(GetProperty("/tmp/A.kext", "CFBundleVersion"));
  EXPECT_FALSE(GetProperty("/tmp/Missing.kext", "CFBundleIdentifier"));
  EXPECT_EQ(GetKextVersion("/tmp/A.kext"), (std::vector<int32_t>{1, 2, 9}));

  bound.WriteKext("/tmp/NoVersion.kext", "");
  EXPECT_FALSE(GetKextVersion("/tmp/NoVersion.kext"));
  bound.Write("/tmp/Broken.kext/Contents/Info.plist", "<plist><dict><key>CFBundleShortVersionString</key></dict>");
  EXPECT_FALSE(GetProperty("/tmp/Broken.kext", "CFBundleShortVersionString"));
  EXPECT_FALSE(GetKextVersion("/tmp/Broken.kext"));
  // A version written as a number has no parts to compare: no version, and nothing breaks.
  bound.Write("/tmp/Number.kext/Contents/Info.plist",
              mac::XmlPropertyList(mac::PlistValue{mac::PlistDictionary{{"CFBundleShortVersionString", mac::PlistValue{int64_t{12}}}}}));
  EXPECT_FALSE(GetKextVersion("/tmp/Number.kext"));
}

TEST(Kext, InstalledWhenMissingOrOlderThanTheOneCarried) {
  struct Case {
    const char* what;
    const char* carried;    // nullptr: the program carries none
    const char* installed;  // nullptr: none in this system's folder; "" one without a version
    bool need;
  };
  const Case cases[] = {
      {"1.2 over 1.2.0", "1.2", "1.2.0", false},
      {"1.3 over 1.2.9", "1.3", "1.2.9", true},
      {"1.3 over 2.0", "1.3", "2.0", false},
      {"none installed", "1.3", nullptr, true},
      {"installed without a version", "1.3", "", false},
      {"carried without a version", "", "1.0", false},
      {"none carried", nullptr, "1.0", false},
  };
  for (const char* system : {"10.6.8", "10.11.6"}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(system) + ": " + c.what);
      BoundMac bound(OnSystem(system));
      if (c.carried) bound.WriteKext(GetNewKextPath(), c.carried);
      if (c.installed) bound.WriteKext(GetKextInstallFolder() + "/KestrelDSSDriver.kext", c.installed);
      EXPECT_EQ(NeedInstallKext(), c.need);
    }
  }
  // A driver in the folder that another system loads from does not count.
  BoundMac bound(OnSystem("10.11.6"));
  bound.WriteKext(GetNewKextPath(), "1.2");
  bound.WriteKext("/System/Library/Extensions/KestrelDSSDriver.kext", "1.2");
  EXPECT_TRUE(NeedInstallKext());
}

TEST(Kext, InstallationAsksForThePasswordRunsTheToolAndWaitsForTheDriver) {
  constexpr int kNever = -1;
  struct Case {
    const char* what;
    const char* system;
    std::optional<mac::OSStatus> password;  // the user's answer; none: granted
    int arrivesAfterMs;                      // when the tool has copied the driver
    bool source, tool;
    int32_t result;
    uint64_t blockedMs;
    size_t questions, executions;
  };
  const Case cases[] = {
      {"granted, the driver arrives in time", "10.6.8", std::nullopt, 1500, true, true, 0, 2500, 1, 1},
      {"on a newer system", "10.11.6", mac::errAuthorizationSuccess, 250, true, true, 0, 1300, 1, 1},
      {"the driver arrives at the last check", "10.6.8", std::nullopt, 3000, true, true, 0, 4000, 1, 1},
      {"the driver arrives too late", "10.6.8", std::nullopt, 3001, true, true, kKextNotInstalled, 4000, 1, 1},
      {"the tool copies nothing", "10.6.8", std::nullopt, kNever, true, true, kKextNotInstalled, 4000, 1, 1},
      {"the password is refused", "10.6.8", mac::errAuthorizationDenied, 0, true, true, mac::errAuthorizationDenied, 0, 1, 0},
      {"the password dialog is cancelled", "10.6.8", mac::errAuthorizationCanceled, 0, true, true, -60006, 0, 1, 0},
      {"no driver to install", "10.6.8", std::nullopt, 0, false, true, kKextNotInstalled, 0, 0, 0},
      {"no tool in the resources", "10.6.8", std::nullopt, 0, true, false, mac::errAuthorizationToolExecuteFailure, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BoundMac bound(OnSystem(c.system));
    const std::string source = GetNewKextPath();
    const std::string tool = bound.resources() + "/CopyKextTool";
    const std::string installed = GetKextInstallFolder() + "/KestrelDSSDriver.kext";
    if (c.source) bound.WriteKext(source, "1.3");
    if (c.tool) bound.Write(tool, "#!/bin/sh\n");
    mac::Authorization& authorization = bound.mac.authorization();
    if (c.password) authorization.answerNext(*c.password);
    if (c.arrivesAfterMs != kNever) {
      const mac::FileManager& files = bound.mac.fileManager();
      authorization.setToolEffect([&files, installed](const std::vector<std::string>& arguments) { files.copyPath(arguments.at(0), installed); },
                                  mac::Milliseconds(c.arrivesAfterMs));
    }

    const uint64_t start = bound.mac.clock().nowMs();
    EXPECT_EQ(InstallKext(source), c.result);
    EXPECT_EQ(bound.mac.clock().nowMs() - start, c.blockedMs);
    EXPECT_EQ(authorization.questionsAsked(), c.questions);
    ASSERT_EQ(authorization.executions().size(), c.executions);
    if (c.executions == 1) {
      EXPECT_EQ(authorization.executions()[0].tool, tool);
      EXPECT_EQ(authorization.executions()[0].arguments, std::vector<std::string>{source});
    }
    EXPECT_EQ(authorization.openAuthorizations(), 0u) << "freed on every path";
    if (c.result == 0) {
      EXPECT_FALSE(NeedInstallKext()) << "the driver installed is the one carried";
    }
  }
}

}  // namespace
