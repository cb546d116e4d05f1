// Configuration values: versions, hexadecimal sizes and integers of any length or content.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/fw_version.h"
#include "common/text_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const FwVersion v = ParseVersion(text);
  // A parsed version must survive its own text form unchanged.
  if (v.letter <= 26 && ParseVersion(FormatVersion(v)) != v) std::abort();
  (void)ScanHexU64Saturating(text);
  (void)ScanDecimalU32(text);
  return 0;
}
