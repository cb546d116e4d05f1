// Strings files of bundles the programs did not make (Localizable.strings, InfoPlist.strings): any
// bytes at all.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "mac/platform/strings.h"

namespace {

// The strings form of a text, as a bundle's author would write it.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else out.push_back(c);
  }
  return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto table = mac::ParseStrings(std::span(data, size));
  if (!table) return 0;
  std::string written;
  for (const auto& [key, value] : *table) written += Quoted(key) + " = " + Quoted(value) + ";\n";
  const auto again = mac::ParseStrings(std::span(reinterpret_cast<const uint8_t*>(written.data()), written.size()));
  if (!again || *again != *table) std::abort();
  return 0;
}
