// The Mac's decoding of the recorder's identification replies: model, version texts, serial, device id.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> reply(data, size);
  const std::string model = mac::DecodeModelName(reply);
  if (model.size() < 8 || model.size() > mac::kReplyBufferSize) __builtin_trap();
  for (uint8_t target : {uint8_t{0}, uint8_t{1}}) {
    const std::string version = mac::DecodeFirmwareVersionText(reply, target);
    if (version.size() < 8 || version.size() > mac::kReplyBufferSize) __builtin_trap();
  }
  (void)mac::DecodeSerialId(reply);
  (void)mac::IsKnownDeviceId(BigEndian32(reply), 40, [](uint16_t id) { return id == 41; });
  return 0;
}
