#pragma once
// A simulated Mac with Reflash's bundle on its disk (the payload of one processor as the build made
// it), the Mac library bound to it, a simulated recorder on its USB bus, and the controller made the
// way ApplicationMain makes it.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "mac/platform/platform.h"
#include "mac/shared/library.h"
#include "mac/updater/app_controller.h"
#include "mac/updater/device_manager.h"
#include "mac/updater/ini_file_manager.h"
#include "mac/updater/run_state.h"
#include "sim/recorder.h"

struct ReflashOptions {
  bool mainProcessor = true;
  std::string systemVersion = "10.6.8";
  std::vector<std::string> arguments;
  std::vector<std::string> languages = {"en"};
  std::vector<std::string> localizations = {"English"};
  bool connectRecorder = true;
  bool installedDriver = true;
};

class ReflashMac {
 public:
  explicit ReflashMac(ReflashOptions o = {})
      : options_(o), mac_(PlatformOptionsFor(o)), installation_(mac_), library_(mac_, MacProgram::Reflash) {
    SetCommandOptionNum(0);
    SetDisabledAppTerminate(0);
    const std::string payload = o.mainProcessor ? REFLASH_PAYLOAD_MAIN : REFLASH_PAYLOAD_SUB;
    MakeFolders(resources());
    for (const char* item : {"wizard1.jpg", "wizard2.jpg", "wizard3.jpg", "glossaries.txt", "FwUpDate.INI", "Firm.bin"}) {
      std::ifstream in(payload + "/" + item, std::ios::binary);
      std::ostringstream bytes;
      bytes << in.rdbuf();
      Write(resources() + "/" + item, bytes.str());
    }
    WriteKext(resources() + "/KextV2/KestrelDSSDriver.kext", "1.2.0");
    WriteKext(resources() + "/KextV3/KestrelDSSDriver.kext", "1.2.0");
    MakeFolders(resources() + "/Leopard.bundle/Contents");
    MakeFolders(resources() + "/Tiger.bundle/Contents");
    if (o.installedDriver) WriteKext(std::string(KextFolder()) + "/KestrelDSSDriver.kext", "1.2.0");
    if (o.connectRecorder) mac_.connectRecorder(recorder);
  }
  ~ReflashMac() { controller.reset(); }

  std::string KextFolder() const {
    return IsSystemVersionAtLeast(ParseSystemVersionText("Version " + options_.systemVersion), 10, 9, 0)
               ? "/Library/Extensions"
               : "/System/Library/Extensions";
  }

  static mac::PlatformOptions PlatformOptionsFor(const ReflashOptions& o) {
    mac::PlatformOptions p;
    p.systemVersion = o.systemVersion;
    p.arguments = o.arguments;
    p.languages = o.languages;
    p.localizations = o.localizations;
    p.bundlePath = "/Applications/Reflash.app";
    return p;
  }

  std::string resources() const { return "/Applications/Reflash.app/Contents/Resources"; }

  void MakeFolders(std::string_view path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
      mac_.fileManager().createDirectoryAtPath(path.substr(0, slash));
      if (slash == std::string_view::npos) return;
    }
  }
  void Write(const std::string& path, std::string_view contents) {
    MakeFolders(path.substr(0, path.rfind('/')));
    ASSERT_TRUE(mac_.fileManager().createFileAtPath(path, contents)) << path;
  }
  void WriteKext(const std::string& path, std::string_view version) {
    mac::PlistDictionary info{{"CFBundleIdentifier", mac::PlistValue{std::string("com.kestrel.driver.DSS")}},
                              {"CFBundleShortVersionString", mac::PlistValue{std::string(version)}}};
    Write(path + "/Contents/Info.plist", mac::XmlPropertyList(mac::PlistValue{std::move(info)}));
  }
  std::string Read(const std::string& path) {
    const auto bytes = mac_.fileManager().contentsAtPath(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  }
  // Replaces `from` by `to` in the bundle's configuration.
  void EditIni(const std::string& from, const std::string& to) {
    std::string ini = Read(resources() + "/FwUpDate.INI");
    const size_t at = ini.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    ini.replace(at, from.size(), to);
    Write(resources() + "/FwUpDate.INI", ini);
  }

  // The program as ApplicationMain starts it, up to the end of its launch.
  void Launch() {
    controller = std::make_unique<FwUpAppController>(mac_);
    mac_.application().setDelegate(controller.get());
    mac_.application().finishLaunching();
  }
  // Makes the queued moves, then lets the program run for `settle` more.
  void Run(mac::Milliseconds settle = mac::Milliseconds(3000)) {
    user().runMoves();
    user().runFor(settle);
  }
  bool Ended() { return mac_.application().isTerminated(); }
  std::string Transcript() { return mac_.transcript().text(); }
  mac::Simulation& user() { return mac_.simulation(); }
  mac::Platform& mac() { return mac_; }
  int Page() const { return controller ? controller->windowType() : -1; }

  sim::Recorder recorder;

 private:
  ReflashOptions options_;
  mac::Platform mac_;
  mac::Platform::Installation installation_;
  MacLibrary library_;

 public:
  std::unique_ptr<FwUpAppController> controller;
};
