#include "sim/firmware_image.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint8_t kMagic[4] = {'Z', 'T', 'F', 'W'};
constexpr uint8_t kHeaderVersion = 1;

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

void PutText8(uint8_t* p, const std::string& text) {
  std::memset(p, 0, 8);
  std::memcpy(p, text.data(), std::min<size_t>(text.size(), 8));
}
std::string GetText8(const uint8_t* p) {
  const auto* end = std::find(p, p + 8, uint8_t{0});
  return std::string(p, end);
}

}  // namespace

uint32_t Fnv1a(std::span<const uint8_t> bytes) {
  uint32_t hash = 2166136261u;
  for (uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
  return hash;
}

std::vector<uint8_t> MakeFirmwareImage(const FirmwareImageHeader& header, uint32_t length) {
  std::vector<uint8_t> image(std::max<size_t>(length, kFirmwareHeaderSize));
  // A body that differs from byte to byte, so that a lost or repeated piece shows in a read-back.
  uint32_t state = 0x9E3779B9u ^ header.target ^ static_cast<uint32_t>(header.version.size() << 8);
  for (char c : header.version) state = state * 31u + static_cast<uint8_t>(c);
  for (size_t i = kFirmwareHeaderSize; i < image.size(); ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    image[i] = static_cast<uint8_t>(state);
  }
  uint8_t* h = image.data();
  std::memcpy(h, kMagic, 4);
  h[4] = header.target;
  h[5] = kHeaderVersion;
  PutU16(h + 6, static_cast<uint16_t>(kFirmwareHeaderSize));
  PutText8(h + 8, header.version);
  PutU32(h + 16, static_cast<uint32_t>(image.size()));
  PutU32(h + 20, Fnv1a(std::span(image).subspan(kFirmwareHeaderSize)));
  PutText8(h + 24, header.model);
  return image;
}

std::optional<FirmwareImageHeader> ReadFirmwareImageHeader(std::span<const uint8_t> image) {
  if (image.size() < kFirmwareHeaderSize) return std::nullopt;
  const uint8_t* h = image.data();
  if (std::memcmp(h, kMagic, 4) != 0 || h[5] != kHeaderVersion || h[4] > 1) return std::nullopt;
  if ((h[6] | (h[7] << 8)) != kFirmwareHeaderSize) return std::nullopt;
  FirmwareImageHeader header;
  header.target = h[4];
  header.version = GetText8(h + 8);
  header.length = GetU32(h + 16);
  header.bodyHash = GetU32(h + 20);
  header.model = GetText8(h + 24);
  if (header.length < kFirmwareHeaderSize || header.length > image.size()) return std::nullopt;
  return header;
}

}  // namespace sim
