// World files of a simulated Mac: written by mac-sim and the programs, but a file on disk that
// anything may have touched: any bytes at all.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "mac/platform/world.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto world = mac::ParseWorld(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!world) return 0;
  // What was read must read back the same from its own written form.
  const auto again = mac::ParseWorld(mac::SerializeWorld(*world));
  if (!again || !(*again == *world)) std::abort();
  return 0;
}
