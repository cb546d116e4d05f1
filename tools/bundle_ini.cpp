// bundle-ini: writes a configuration from its template with the real sizes of the payload items.
//   bundle-ini <template> <output> [--lf] SECTION:Key=<file> ...
// Each named file's byte count becomes the key's value, so a declared size can never drift from
// the item that is embedded beside it.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tools/ini_edit.h"

namespace {

constexpr char kUsage[] =
    "usage: bundle-ini <template> <output> [--lf] SECTION:Key=<file> ...\n"
    "writes a configuration from its template with the byte count of each file as its key's value\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (argc == 2 && (first == "--help" || first == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  // A template named like an option is a mistyped option, not a file to look for.
  if (argc < 3 || first.starts_with("-")) {
    std::cerr << kUsage;
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << argv[1] << ": cannot be read\n";
    return 1;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string_view newline = "\r\n";
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--lf") {
      newline = "\n";
      continue;
    }
    const size_t colon = arg.find(':');
    const size_t eq = arg.find('=');
    if (colon == std::string::npos || eq == std::string::npos || eq < colon) {
      std::cerr << "bundle-ini: \"" << arg << "\" is not SECTION:Key=<file>\n";
      return 2;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(arg.substr(eq + 1), ec);
    if (ec) {
      std::cerr << "bundle-ini: " << arg.substr(eq + 1) << ": " << ec.message() << "\n";
      return 1;
    }
    text = SetIniValue(text, arg.substr(0, colon), arg.substr(colon + 1, eq - colon - 1), std::to_string(size));
  }
  text = WithLineEndings(text, newline);

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) {
    std::cerr << argv[2] << ": cannot be written\n";
    return 1;
  }
  return 0;
}
