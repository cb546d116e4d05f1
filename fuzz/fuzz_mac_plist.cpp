// Property lists of bundles the programs did not make: any bytes at all.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "mac/platform/plist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto list = mac::PropertyListFromData(std::span(data, size));
  if (!list) return 0;
  // What was read must read back the same from its own written form.
  const std::string written = mac::XmlPropertyList(*list);
  const auto again = mac::PropertyListFromData(std::span(reinterpret_cast<const uint8_t*>(written.data()), written.size()));
  if (!again || mac::XmlPropertyList(*again) != written) std::abort();
  return 0;
}
