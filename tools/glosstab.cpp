// glosstab: checks a UTF-8 glossary source and writes the shipped UTF-16 table.
//   glosstab check <source.tsv>
//   glosstab build <source.tsv> <Glossaries.txt>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "tools/glossary_source.h"

namespace {

constexpr char kUsage[] =
    "usage: glosstab check <source.tsv> | glosstab build <source.tsv> <table.txt>\n"
    "checks a UTF-8 glossary source and writes the shipped UTF-16 table\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 2 && (mode == "--help" || mode == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  if (!((mode == "check" && argc == 3) || (mode == "build" && argc == 4))) {
    std::cerr << kUsage;
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::cerr << argv[2] << ": cannot be read\n";
    return 1;
  }
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const GlossarySourceResult result = ParseGlossarySource(source);
  for (const auto& error : result.errors) std::cerr << argv[2] << ": " << error << "\n";
  if (!result.errors.empty()) return 1;

  if (mode == "build") {
    const auto bytes = WriteGlossaryTable(result.table);
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      std::cerr << argv[3] << ": cannot be written\n";
      return 1;
    }
  }
  return 0;
}
