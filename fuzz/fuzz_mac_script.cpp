// Scripts of the simulated user: any text is either read whole or refused with a line number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mac/platform/script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    for (const mac::ScriptMove& move : mac::ParseScript(text)) {
      if (move.line < 1 || !move.queue) std::abort();
    }
  } catch (const mac::SimulationError& error) {
    if (std::string_view(error.what()).substr(0, 5) != "line ") std::abort();
  }
  return 0;
}
