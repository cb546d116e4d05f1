// The glossary table as the library reads it from disk, then the escapes of every text.
#include <cstdlib>
#include <span>

#include "common/glossary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const GlossaryReadResult result = ReadGlossaryTable(std::span(data, size));
  for (const auto& [id, row] : result.table.texts) {
    if (row.size() != result.table.languages.size()) std::abort();
    for (const auto& text : row) {
      if (ReplaceGlossaryEscapes(text).size() > text.size()) std::abort();
    }
  }
  // What was read must be written and read back to the same table.
  const auto again = ReadGlossaryTable(WriteGlossaryTable(result.table));
  if (!again.problems.empty() || again.table.texts != result.table.texts) std::abort();
  return 0;
}
