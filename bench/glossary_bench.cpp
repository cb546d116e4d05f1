// The glossary library reads its whole table when it starts, and every page text passes the escape
// replacement and the formatter; these keep start-up and page switches instant.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>

#include "common/fw_version.h"
#include "common/glossary.h"
#include "common/text_format.h"
#include "tools/glossary_source.h"

namespace {

std::vector<uint8_t> ShippedTable(const char* program) {
  std::ifstream in(std::string(ZT_PAYLOAD_SOURCES) + "/glossary/" + program + ".tsv", std::ios::binary);
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return WriteGlossaryTable(ParseGlossarySource(source).table);
}

void BM_ReadGlossaryTable(benchmark::State& state) {
  const auto bytes = ShippedTable("reflash");
  for (auto _ : state) benchmark::DoNotOptimize(ReadGlossaryTable(bytes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadGlossaryTable);

void BM_EscapesAndFormat(benchmark::State& state) {
  const auto table = ReadGlossaryTable(ShippedTable("monoflash")).table;
  const std::u16string text = table.Text(11002, 1);
  for (auto _ : state) {
    const std::u16string replaced = ReplaceGlossaryEscapes(text);
    benchmark::DoNotOptimize(FormatText<char16_t>(replaced, {u"ZT-5100", u"1.00", u"1.01", u"&Next"}));
  }
}
BENCHMARK(BM_EscapesAndFormat);

void BM_ParseVersion(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ParseVersion(" Ver 1.01b "));
}
BENCHMARK(BM_ParseVersion);

}  // namespace
