#include "mac/platform/foundation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "mac/platform/platform.h"
#include "mac/platform/plist.h"

namespace mac {
namespace {

TEST(PlatformNotifications, ReachesOnlyTheObserversOfThatNameInTheirOrder) {
  NotificationCenter center;
  std::vector<std::string> heard;
  int a = 0, b = 0;
  center.addObserver(&a, "fwUpNotifyCloseWizard21", [&](const Notification& n) {
    heard.push_back("a " + n.name + " " + std::to_string(n.userInfo->number("next").value_or(-1)));
  });
  center.addObserver(&b, "fwUpNotifyCloseWizard1", [&](const Notification& n) { heard.push_back("b " + n.name); });
  center.addObserver(&b, "fwUpNotifyCloseWizard21", [&](const Notification& n) {
    heard.push_back(std::string("b ") + (n.userInfo ? "info" : "none"));
  });
  center.postNotificationName("fwUpNotifyCloseWizard21", &a, UserInfo().set("next", 4));
  center.postNotificationName("fwUpNotifyDeviceAdded");
  EXPECT_EQ(heard, (std::vector<std::string>{"a fwUpNotifyCloseWizard21 4", "b info"}));

  heard.clear();
  center.removeObserver(&b, "fwUpNotifyCloseWizard21");
  center.postNotificationName("fwUpNotifyCloseWizard21", nullptr, UserInfo().set("next", 1));
  center.postNotificationName("fwUpNotifyCloseWizard1");
  EXPECT_EQ(heard, (std::vector<std::string>{"a fwUpNotifyCloseWizard21 1", "b fwUpNotifyCloseWizard1"}));

  center.removeObserver(&a);
  center.removeObserver(&b);
  EXPECT_EQ(center.observationCount(), 0u);
}

TEST(PlatformNotifications, AnObserverRemovedDuringDeliveryHearsNothingMore) {
  NotificationCenter center;
  int first = 0, second = 0, calls = 0;
  center.addObserver(&first, "quit", [&](const Notification&) {
    ++calls;
    center.removeObserver(&first);
    center.removeObserver(&second);
  });
  center.addObserver(&second, "quit", [&](const Notification&) { ADD_FAILURE() << "removed before its turn"; });
  center.postNotificationName("quit");
  center.postNotificationName("quit");
  EXPECT_EQ(calls, 1);
}

TEST(PlatformUserInfo, KeepsNumbersAndTextsApart) {
  UserInfo info;
  info.set("fwUpNotifyItemDeviceIterator", int64_t{0x1007}).set(std::string(NSApplicationName), "VoxPlayer");
  EXPECT_EQ(info.number("fwUpNotifyItemDeviceIterator"), 0x1007);
  EXPECT_EQ(info.string(NSApplicationName), "VoxPlayer");
  EXPECT_FALSE(info.string("fwUpNotifyItemDeviceIterator"));
  EXPECT_FALSE(info.number(NSApplicationName));
  EXPECT_FALSE(info.number("missing"));
}

TEST(PlatformPropertyList, ReadsWhatBundlesCarry) {
  const std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleShortVersionString</key>
	<string>1.2.9</string>
	<!-- a comment -->
	<key>CFBundleName</key><string>Caf&#xE9; &amp; &lt;Co&gt;</string>
	<key>OSBundleLibraries</key>
	<dict><key>com.apple.iokit.IOUSBFamily</key><string>1.8</string></dict>
	<key>CFBundleDocumentTypes</key><array><dict/><string/></array>
	<key>IOKitPersonalities</key><dict/>
	<key>Count</key><integer> -42 </integer>
	<key>LSBackgroundOnly</key><true/>
	<key>CFBundleName</key><string>second, ignored</string>
</dict>
</plist>
)";
  std::string error;
  const auto list = PropertyListFromData(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &error);
  ASSERT_TRUE(list) << error;
  EXPECT_EQ(*list->objectForKey("CFBundleShortVersionString")->string(), "1.2.9");
  EXPECT_EQ(*list->objectForKey("CFBundleName")->string(), "Caf\xC3\xA9 & <Co>");
  EXPECT_EQ(*list->objectForKey("OSBundleLibraries")->objectForKey("com.apple.iokit.IOUSBFamily")->string(), "1.8");
  EXPECT_EQ(list->objectForKey("CFBundleDocumentTypes")->array()->size(), 2u);
  EXPECT_EQ(*list->objectForKey("Count")->integer(), -42);
  EXPECT_TRUE(std::get<bool>(list->objectForKey("LSBackgroundOnly")->value));
  EXPECT_EQ(list->objectForKey("Missing"), nullptr);

  // What the simulation writes reads back the same.
  const std::string written = XmlPropertyList(*list);
  const auto again = PropertyListFromData(std::span(reinterpret_cast<const uint8_t*>(written.data()), written.size()));
  ASSERT_TRUE(again);
  EXPECT_EQ(XmlPropertyList(*again), written);
}

TEST(PlatformPropertyList, RefusesWhatIsNotAWholeList) {
  const char* cases[] = {
      "",
      "<dict></dict>",
      "<plist><dict><key>a</key></dict></plist>",               // a key without its value
      "<plist><dict><string>a</string></dict></plist>",          // a value without a key
      "<plist><string>a</plist>",                                // not closed
      "<plist><integer>12x</integer></plist>",
      "<plist><string>&bogus;</string></plist>",
      "<plist><string>&#xD800;</string></plist>",                // a surrogate is no character
      "<plist><array><string>a</string></plist>",
      "<plist><string>a</string></plist> trailing",
      "<plist><unknown/></plist>",
      "<plist><string>a</string><string>b</string></plist>",
  };
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    std::string error;
    EXPECT_FALSE(PropertyListFromData(std::span(reinterpret_cast<const uint8_t*>(text), std::strlen(text)), &error));
    EXPECT_FALSE(error.empty());
  }
  std::string deep = "<plist>";
  for (int i = 0; i < 100; ++i) deep += "<array>";
  for (int i = 0; i < 100; ++i) deep += "</array>";
  deep += "</plist>";
  EXPECT_FALSE(PropertyListFromData(std::span(reinterpret_cast<const uint8_t*>(deep.data()), deep.size())));
}

TEST(PlatformMainBundle, FindsResourcesAndInfoValuesOfTheRunningProgram) {
  PlatformOptions options;
  options.bundlePath = "/Applications/Tools/Firmware Update.app";
  options.languages = {"ja", "en"};
  options.localizations = {"Japanese"};
  options.arguments = {"-nc1"};
  options.systemVersion = "10.11.6";
  Platform mac(options);
  FileManager& files = mac.fileManager();
  ASSERT_TRUE(files.createDirectoryAtPath("/Applications/Tools"));
  ASSERT_TRUE(files.createDirectoryAtPath(options.bundlePath));
  ASSERT_TRUE(files.createDirectoryAtPath(options.bundlePath + "/Contents"));
  ASSERT_TRUE(files.createDirectoryAtPath(options.bundlePath + "/Contents/Resources"));
  ASSERT_TRUE(files.createFileAtPath(options.bundlePath + "/Contents/Resources/glossaries.txt", "WinVal\tJPN\n"));
  ASSERT_TRUE(files.createFileAtPath(options.bundlePath + "/Contents/Info.plist",
                                     XmlPropertyList(PlistValue{PlistDictionary{{"CFBundleName", PlistValue{std::string("Firmware Update")}}}})));

  const Bundle& bundle = mac.mainBundle();
  EXPECT_EQ(bundle.resourcePath(), "/Applications/Tools/Firmware Update.app/Contents/Resources");
  EXPECT_EQ(bundle.pathForResource("glossaries", "txt"), bundle.resourcePath() + "/glossaries.txt");
  // The Mac's disk finds a name in any case; the path answered is the one asked for.
  EXPECT_EQ(bundle.pathForResource("Glossaries", "TXT"), bundle.resourcePath() + "/Glossaries.TXT");
  EXPECT_FALSE(bundle.pathForResource("wizard1", "jpg"));
  EXPECT_EQ(*bundle.objectForInfoDictionaryKey("CFBundleName")->string(), "Firmware Update");
  EXPECT_EQ(bundle.preferredLocalizations(), std::vector<std::string>{"Japanese"});
  EXPECT_EQ(mac.userDefaults().stringArrayForKey(UserDefaults::kAppleLanguages), (std::vector<std::string>{"ja", "en"}));
  EXPECT_EQ(mac.processInfo().arguments(),
            (std::vector<std::string>{"/Applications/Tools/Firmware Update.app/Contents/MacOS/Reflash", "-nc1"}));
  EXPECT_EQ(mac.processInfo().operatingSystemVersionString(), "Version 10.11.6 (Build 10K549)");
  EXPECT_TRUE(files.fileExistsAtPath(mac.processInfo().homeDirectory() + "/Library/Application Support"));
}

}  // namespace
}  // namespace mac
