// Configuration templates: whatever the text, a set value can be found again by a second set.
#include <cstdlib>
#include <string_view>

#include "tools/ini_edit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string once = SetIniValue(text, "RESOURCE", "IdBinFirmware", "31744");
  // Setting the same value again changes nothing: the first set put it where it is found.
  if (SetIniValue(once, "RESOURCE", "IdBinFirmware", "31744") != once) std::abort();
  (void)WithLineEndings(text, "\n");
  return 0;
}
