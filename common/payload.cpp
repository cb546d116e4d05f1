#include "common/payload.h"

namespace bundle {
std::string FirmwareSizeKey(size_t index) {
  return index == 0 ? std::string(kFirmware.sizeKey) : kFirmware.sizeKey + std::to_string(index + 1);
}
}  // namespace bundle

namespace {
template <size_t N>
PayloadError OrMismatches(const uint32_t (&declared)[N], const uint32_t (&actual)[N], const PayloadItem (&items)[N]) {
  PayloadError error = kPayloadOk;
  for (size_t i = 0; i < N; ++i) {
    if (declared[i] != actual[i]) error |= MakePayloadError(PayloadFailure::Missing, items[i].itemBit);
  }
  return error;
}
}  // namespace

PayloadError CheckBundleSizes(const BundleSizes& declared, const BundleSizes& actual) {
  const PayloadError firmwareMismatch = MakePayloadError(PayloadFailure::Missing, bundle::kFirmware.itemBit);
  PayloadError error = kPayloadOk;
  if (declared.firmware.empty()) {
    error = firmwareMismatch;
  } else {
    for (size_t n = 0; n < declared.firmware.size(); ++n) {
      const uint32_t actualSize = n < actual.firmware.size() ? actual.firmware[n] : 0;
      if (actualSize != declared.firmware[n]) error |= firmwareMismatch;
    }
  }
  return error | OrMismatches(declared.items, actual.items, bundle::kCheckedItems);
}

PayloadError CheckWrapperSizes(const WrapperSizes& declared, const WrapperSizes& actual) {
  return OrMismatches(declared.items, actual.items, wrapper::kCheckedItems);
}
