// Image headers as the simulated recorder reads them from what was written to it.
#include <span>

#include "sim/firmware_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)sim::ReadFirmwareImageHeader(std::span(data, size));
  return 0;
}
