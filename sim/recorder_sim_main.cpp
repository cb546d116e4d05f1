// recorder-sim: creates, shows and breaks a simulated recorder kept in a state file.
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "sim/state_file.h"

namespace {

int Usage() {
  std::cerr << "usage:\n"
               "  recorder-sim create <file> [--main-version V] [--sub-version V] [--device-id N] [--model M]\n"
               "                     [--model-padding blank|zero] [--vendor V] [--storage-size N] [--serial N]\n"
               "                     [--steps N] [--needs-mode-switch] [--delay-ms N]\n"
               "  recorder-sim show <file>\n"
               "  recorder-sim fault <file> <fault>      fail <cmd> [n] | stall <cmd> [n] | vanish <cmd> [n] |\n"
               "                                         refuse-prepare | refuse-verify | keep-volume |\n"
               "                                         extra-steps <k> [n] | corrupt-readback <offset>\n"
               "                                         (<cmd> like E4-02, E0-0B, 12 or any)\n"
               "  recorder-sim clear-faults <file>\n"
               "  recorder-sim unplug <file> | plug <file>\n";
  return 2;
}

template <class T>
bool ParseValue(const char* text, T& value) {
  const char* end = text + std::strlen(text);
  const auto [ptr, ec] = std::from_chars(text, end, value);
  return ec == std::errc() && ptr == end;
}

bool ValidText(const std::string& text, size_t limit) {
  return text.size() <= limit && text.find_first_of("\r\n") == std::string::npos;
}

int Create(const std::string& path, int argc, char** argv) {
  sim::Recorder r;
  for (int i = 0; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "--needs-mode-switch") {
      r.modeByte = 3;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    bool ok = true;
    if (opt == "--main-version") ok = ValidText(r.main.version = value, 8);
    else if (opt == "--sub-version") ok = ValidText(r.sub.version = value, 8);
    else if (opt == "--model") ok = ValidText(r.model = value, 8);
    else if (opt == "--model-padding") ok = sim::ParseModelPadding(value, r.modelPadding);
    else if (opt == "--vendor") ok = ValidText(r.vendor = value, 8);
    else if (opt == "--device-id") ok = ParseValue(value, r.deviceId);
    else if (opt == "--storage-size") ok = ParseValue(value, r.storageSize);
    else if (opt == "--serial") ok = ParseValue(value, r.serial);
    else if (opt == "--steps") ok = ParseValue(value, r.prepareSteps);
    else if (opt == "--delay-ms") {
      ok = ParseValue(value, r.restartDelayMs);
      r.modeSwitchDelayMs = r.restartDelayMs;
    } else {
      std::cerr << "recorder-sim: unknown option " << opt << "\n";
      return 2;
    }
    if (!ok) {
      std::cerr << "recorder-sim: bad value \"" << value << "\" for " << opt
                << (opt == "--model-padding" ? " (blank or zero)\n" : " (texts have at most 8 characters)\n");
      return 2;
    }
  }
  std::string error;
  if (!sim::RecorderStore(path).Create(r, error)) {
    std::cerr << "recorder-sim: " << error << "\n";
    return 1;
  }
  return 0;
}

// The version the processor reports; an incomplete image says why it reports no real one.
std::string Firmware(const sim::Recorder& r, uint8_t target) {
  const sim::Processor& p = target == 1 ? r.sub : r.main;
  if (p.imageComplete) return p.version;
  const bool writing = r.attached && r.session.active && r.session.target == target;
  return p.ReportedVersion() + " (image incomplete: update " + (writing ? "in progress)" : "interrupted)");
}

void Show(const sim::Recorder& r, uint64_t now) {
  std::cout << "Recorder " << r.model << " (vendor " << r.vendor << ", device id " << r.deviceId << ", serial " << r.serial
            << ")\n";
  std::cout << "  model padded with:       " << (r.modelPadding == sim::ModelPadding::Zero ? "zero bytes" : "blanks")
            << "\n";
  std::cout << "  main processor firmware: " << Firmware(r, 0) << "\n";
  std::cout << "  sub processor firmware:  " << Firmware(r, 1) << "\n";
  std::cout << "  storage size:            " << r.storageSize << " bytes\n";
  std::cout << "  mode:                    " << (r.modeByte == 3 ? "waiting for the switch to storage mode" : "storage")
            << "\n";
  std::cout << "  attached:                ";
  if (r.attached) {
    std::cout << "yes, volume " << (r.volumeMounted ? "mounted" : "gone (preparing for an update)") << "\n";
  } else if (r.returnsAtMs != 0) {
    std::cout << "no, restarting (back in " << (r.returnsAtMs > now ? r.returnsAtMs - now : 0) << " ms)\n";
  } else {
    std::cout << "no, unplugged\n";
  }
  if (r.last.present) {
    std::cout << "  last update:             " << (r.last.target == 1 ? "sub" : "main") << " processor, " << r.last.length
              << " bytes at " << r.last.start << ", image version "
              << (r.last.imageVersion.empty() ? std::string("(no header)") : r.last.imageVersion)
              << ", read back: " << (r.last.readBack ? "yes" : "no") << "\n";
  } else {
    std::cout << "  last update:             none\n";
  }
  if (r.session.active) {
    std::cout << "  update in progress:      " << r.session.received << " of " << r.session.length << " bytes received"
              << (r.session.finished ? ", finished" : "") << "\n";
  }
  for (const auto& f : r.faults) std::cout << "  fault armed:             " << sim::FaultText(f) << "\n";
  if (!r.log.empty()) {
    std::cout << "  recent commands:        ";
    const size_t from = r.log.size() > 16 ? r.log.size() - 16 : 0;
    for (size_t i = from; i < r.log.size(); ++i) std::cout << " " << r.log[i];
    std::cout << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cerr.rdbuf(std::cout.rdbuf());  // asked for, the usage is the output and not a complaint
    Usage();
    return 0;
  }
  if (argc < 3) return Usage();
  const std::string verb = argv[1];
  const std::string path = argv[2];
  const sim::RecorderStore store(path);
  std::string error;

  if (verb == "create") return Create(path, argc - 3, argv + 3);

  bool ok = true;
  if (verb == "show" && argc == 3) {
    sim::Recorder r;
    ok = store.Read(r, error);
    if (ok) {
      r.Tick(sim::WallClockMs());
      Show(r, sim::WallClockMs());
    }
  } else if (verb == "fault" && argc >= 4) {
    std::string text;
    for (int i = 3; i < argc; ++i) text += std::string(i > 3 ? " " : "") + argv[i];
    sim::Fault fault;
    if (!sim::ParseFault(text, fault, error)) {
      std::cerr << "recorder-sim: " << error << "\n";
      return Usage();
    }
    ok = store.Update([&](sim::Recorder& r) { return r.faults.push_back(fault), true; }, error);
  } else if (verb == "clear-faults" && argc == 3) {
    ok = store.Update([](sim::Recorder& r) { return r.faults.clear(), true; }, error);
  } else if (verb == "unplug" && argc == 3) {
    ok = store.Update([](sim::Recorder& r) { return r.Unplug(), true; }, error);
  } else if (verb == "plug" && argc == 3) {
    ok = store.Update([](sim::Recorder& r) { return r.Plug(), true; }, error);
  } else {
    return Usage();
  }
  if (!ok) {
    std::cerr << "recorder-sim: " << error << "\n";
    return 1;
  }
  return 0;
}
