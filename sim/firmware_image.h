#pragma once
// The images that the build generates for the simulated recorder. A real image is opaque to the
// updaters, and so is this one; only the simulated recorder reads the header, to know which
// processor an image is for and which version it brings once it has been written and finished.
//
// Header (little-endian, 32 bytes):
//   0  "ZTFW"             4  target: 0 main, 1 sub     5  header version (1)
//   6  header size (u16)  8  version text, 8 bytes, NUL-padded
//  16  image length (u32) 20  FNV-1a of the bytes after the header
//  24  model text, 8 bytes, NUL-padded

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

struct FirmwareImageHeader {
  uint8_t target = 0;  // 0 main processor, 1 sub processor
  std::string version;
  std::string model;
  uint32_t length = 0;
  uint32_t bodyHash = 0;
};

inline constexpr size_t kFirmwareHeaderSize = 32;

// A deterministic image of `length` bytes (at least the header's): the same header gives the same bytes.
std::vector<uint8_t> MakeFirmwareImage(const FirmwareImageHeader& header, uint32_t length);

// The header when the bytes start with one that is whole and consistent with them.
std::optional<FirmwareImageHeader> ReadFirmwareImageHeader(std::span<const uint8_t> image);

uint32_t Fnv1a(std::span<const uint8_t> bytes);

}  // namespace sim
