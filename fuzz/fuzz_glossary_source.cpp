// The UTF-8 glossary sources the table tool reads.
#include <cstdlib>
#include <string_view>

#include "tools/glossary_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto result = ParseGlossarySource(std::string_view(reinterpret_cast<const char*>(data), size));
  // A source without errors must give a table the library reads without problems.
  if (result.errors.empty() && !ReadGlossaryTable(WriteGlossaryTable(result.table)).problems.empty()) std::abort();
  return 0;
}
