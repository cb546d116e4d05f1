#pragma once
// A simulated Mac with the library bound to it, and the few things the tests put on its disk.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "mac/platform/platform.h"
#include "mac/shared/library.h"

struct BoundMac {
  explicit BoundMac(mac::PlatformOptions options = {}, MacProgram program = MacProgram::Reflash)
      : mac(std::move(options)), library(mac, program) {
    MakeFolders(resources());
  }

  std::string resources() const { return mac.options().bundlePath + "/Contents/Resources"; }

  // Every missing folder along the path.
  void MakeFolders(std::string_view path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
      mac.fileManager().createDirectoryAtPath(path.substr(0, slash));
      if (slash == std::string_view::npos) return;
    }
  }

  void Write(const std::string& path, std::string_view contents) {
    MakeFolders(path.substr(0, path.rfind('/')));
    ASSERT_TRUE(mac.fileManager().createFileAtPath(path, contents)) << path;
  }

  // A driver bundle whose Info.plist gives `version` as its short version (none when empty).
  void WriteKext(const std::string& path, std::string_view version) {
    mac::PlistDictionary info{{"CFBundleIdentifier", mac::PlistValue{std::string("com.kestrel.driver.DSS")}}};
    if (!version.empty()) info.push_back({"CFBundleShortVersionString", mac::PlistValue{std::string(version)}});
    Write(path + "/Contents/Info.plist", mac::XmlPropertyList(mac::PlistValue{std::move(info)}));
  }

  mac::Platform mac;
  MacLibrary library;
};
