// fwimage: writes a firmware image for the simulated recorder.
//   fwimage <MAIN|SUB> <version> <model> <length> <output>
#include <fstream>
#include <iostream>
#include <string>

#include "sim/firmware_image.h"

namespace {

constexpr char kUsage[] =
    "usage: fwimage <MAIN|SUB> <version> <model> <length> <output>\n"
    "writes a firmware image for the simulated recorder\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (argc != 6) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string target = argv[1];
  if (target != "MAIN" && target != "SUB") {
    std::cerr << "fwimage: the target is MAIN or SUB, not \"" << target << "\"\n";
    return 2;
  }
  unsigned long length = 0;
  try {
    length = std::stoul(argv[4]);
  } catch (const std::exception&) {
    length = 0;
  }
  if (length < sim::kFirmwareHeaderSize || length > 0x7FFFFFFFul) {
    std::cerr << "fwimage: the length must be between " << sim::kFirmwareHeaderSize << " and 2147483647 bytes\n";
    return 2;
  }
  sim::FirmwareImageHeader header;
  header.target = target == "SUB" ? 1 : 0;
  header.version = argv[2];
  header.model = argv[3];
  const auto image = sim::MakeFirmwareImage(header, static_cast<uint32_t>(length));
  std::ofstream out(argv[5], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!out.flush()) {
    std::cerr << argv[5] << ": cannot be written\n";
    return 1;
  }
  return 0;
}
