#include "mac/shared/processes.h"

#include <algorithm>

namespace {

size_t CountNamed(const std::vector<std::string>& names, std::string_view name) {
  return static_cast<size_t>(std::count(names.begin(), names.end(), name));
}

}  // namespace

std::vector<std::string> ProcessCommandNames(std::span<const uint8_t> table) {
  std::vector<std::string> names;
  const size_t count = ProcessRecordCount(table.size());
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const auto field = table.subspan(i * kProcessRecordSize + kProcessCommandNameOffset, kProcessCommandNameSize);
    const auto end = std::find(field.begin(), field.end(), uint8_t{0});
    names.emplace_back(field.begin(), end);
  }
  return names;
}

size_t CountFinderProcesses(std::span<const uint8_t> table) { return CountNamed(ProcessCommandNames(table), "Finder"); }

bool isRunningVoxPlayer(const std::vector<std::string>& launchedApplicationNames) {
  return CountNamed(launchedApplicationNames, "VoxPlayer for Mac") + CountNamed(launchedApplicationNames, "VoxPlayer") > 0;
}

bool isRunningKestrelTunebox(const std::vector<std::string>& launchedApplicationNames) {
  return CountNamed(launchedApplicationNames, "Kestrel Tunebox") > 0;
}

bool isRunningReflash(const std::vector<std::string>& launchedApplicationNames, std::string_view ownName) {
  return CountNamed(launchedApplicationNames, ownName) > 1;
}
