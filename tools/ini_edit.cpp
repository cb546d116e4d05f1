#include "tools/ini_edit.h"

#include <optional>
#include <vector>

#include "common/text_scan.h"

namespace {

bool SameName(std::string_view a, std::string_view b) {
  a = TrimBlanks(a);
  b = TrimBlanks(b);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToAsciiUpper(a[i]) != ToAsciiUpper(b[i])) return false;
  }
  return true;
}

// The name of a section line ("[NAME]"), or nothing for other lines.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = TrimBlanks(line);
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return line.substr(1, close - 1);
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines, std::string_view newline) {
  std::string out;
  for (const auto& line : lines) {
    out += line;
    out += newline;
  }
  return out;
}

}  // namespace

std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key, std::string_view value) {
  std::vector<std::string> lines = SplitLines(text);

  const std::string entry = std::string(key) + "=" + std::string(value);
  bool inSection = false;
  std::optional<size_t> sectionEnd;  // index after the section's last non-empty line
  bool done = false;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    if (const auto name = SectionOf(lines[i])) {
      if (inSection) break;
      inSection = SameName(*name, section);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    const std::string_view line = lines[i];
    if (!TrimBlanks(line).empty()) sectionEnd = i + 1;
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos && line.find(';') != 0 && SameName(line.substr(0, eq), key)) {
      lines[i] = entry;
      done = true;
    }
  }
  if (!done) {
    if (sectionEnd) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*sectionEnd), entry);
    } else {
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(entry);
    }
  }

  return JoinLines(lines, "\r\n");
}

std::string WithLineEndings(std::string_view text, std::string_view newline) { return JoinLines(SplitLines(text), newline); }
