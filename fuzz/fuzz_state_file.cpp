// The simulated recorder's state file, which several processes and a hand-run tool write, and the
// fault texts of the command-line tool.
#include <cstdlib>
#include <span>
#include <string_view>

#include "sim/state_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sim::Recorder recorder;
  std::string error;
  if (sim::ParseRecorder(std::span(data, size), recorder, error)) {
    // Whatever was accepted must survive a write and a read, and then answer commands safely.
    sim::Recorder again;
    if (!sim::ParseRecorder(sim::SerializeRecorder(recorder), again, error)) std::abort();
    uint8_t in[64];
    const uint8_t read[12] = {0xE4, 0x05, 0, 0, 0, 64};
    const uint8_t poll[12] = {0xE4, 0x01};
    again.Execute(read, {}, in, 0);
    again.Execute(poll, {}, in, 0);
  }
  sim::Fault fault;
  (void)sim::ParseFault(std::string_view(reinterpret_cast<const char*>(data), size), fault, error);
  return 0;
}
