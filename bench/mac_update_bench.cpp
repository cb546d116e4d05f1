// Whole Reflash updates on the simulated Mac, in process, measured in the Mac's own (virtual) time:
// the sub-processor update whose finishing wait ends with its thread, against the same run with the
// fixed twenty-second wait; the main-processor update against its floor, the pauses the sequence
// makes (one second after the ejection, one after the preparation command, one after the first poll
// that never passes) with the transfers taking no time of the model's.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/update_sequence.h"
#include "mac/platform/platform.h"
#include "mac/shared/library.h"
#include "mac/updater/app_controller.h"
#include "mac/updater/run_state.h"
#include "sim/recorder.h"

namespace {

// One launch of Reflash with its bundle's payload, the user pressing Start; the Mac's time from the
// click until the last page.
double VirtualSecondsOfUpdate(const std::string& payload) {
  sim::Recorder recorder;
  mac::PlatformOptions options;
  options.bundlePath = "/Applications/Reflash.app";
  mac::Platform mac(options);
  mac::Platform::Installation installation(mac);
  MacLibrary library(mac, MacProgram::Reflash);
  SetCommandOptionNum(0);
  SetDisabledAppTerminate(0);
  const std::string resources = options.bundlePath + "/Contents/Resources";
  for (const std::string& folder : {std::string("/Applications/Reflash.app"), std::string("/Applications/Reflash.app/Contents"), resources}) {
    mac.fileManager().createDirectoryAtPath(folder);
  }
  for (const char* item : {"wizard1.jpg", "wizard2.jpg", "wizard3.jpg", "glossaries.txt", "FwUpDate.INI", "Firm.bin"}) {
    std::ifstream in(payload + "/" + item, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    mac.fileManager().createFileAtPath(resources + "/" + item, bytes.str());
  }
  const std::string plist = "<plist><dict><key>CFBundleShortVersionString</key><string>1.2.0</string></dict></plist>";
  for (const std::string& folder : {resources + "/KextV2", resources + "/KextV3", std::string("/System/Library/Extensions")}) {
    mac.fileManager().createDirectoryAtPath(folder);
    mac.fileManager().createDirectoryAtPath(folder + "/KestrelDSSDriver.kext");
    mac.fileManager().createDirectoryAtPath(folder + "/KestrelDSSDriver.kext/Contents");
    mac.fileManager().createFileAtPath(folder + "/KestrelDSSDriver.kext/Contents/Info.plist", plist);
  }
  mac.connectRecorder(recorder);
  auto controller = std::make_unique<FwUpAppController>(mac);
  mac.application().setDelegate(controller.get());
  mac.application().finishLaunching();
  mac.simulation().runFor(mac::Milliseconds(0));
  const uint64_t start = mac.clock().nowMs();
  mac.simulation().click("Start");
  mac.simulation().runUntil([&] { return controller->windowType() == kMacPageFinished; }, mac::Milliseconds(120000));
  const double seconds = static_cast<double>(mac.clock().nowMs() - start) / 1000.0;
  controller.reset();
  return seconds;
}

void BM_MacSubProcessorUpdate(benchmark::State& state) {
  double virtualSeconds = 0;
  for (auto _ : state) virtualSeconds = VirtualSecondsOfUpdate(REFLASH_PAYLOAD_SUB);
  // The same run had it waited the fixed twenty seconds (and the second after them) instead of one
  // round and one second.
  const double fixedWait = virtualSeconds - 2.0 + std::chrono::duration<double>(kSubFinishWait).count() + 1.0;
  state.counters["mac_seconds"] = virtualSeconds;
  state.counters["mac_seconds_fixed_20s_wait"] = fixedWait;
  state.counters["saved_seconds"] = fixedWait - virtualSeconds;
}
BENCHMARK(BM_MacSubProcessorUpdate)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MacMainProcessorUpdate(benchmark::State& state) {
  double virtualSeconds = 0;
  for (auto _ : state) virtualSeconds = VirtualSecondsOfUpdate(REFLASH_PAYLOAD_MAIN);
  constexpr double kFloor = 1.0 + 1.0 + 1.0;
  state.counters["mac_seconds"] = virtualSeconds;
  state.counters["floor_seconds"] = kFloor;
  state.counters["ratio_to_floor"] = virtualSeconds / kFloor;
}
BENCHMARK(BM_MacMainProcessorUpdate)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
