#pragma once
// An in-memory profile with the platform's reading rules, so the record rules can be tested
// without files: names match regardless of case, values are trimmed of blanks and of one pair of
// surrounding quotes, integers are the leading decimal digits.

#include <map>
#include <string>
#include <vector>

#include "common/fw_info.h"
#include "common/text_scan.h"

class FakeProfile : public ProfileReader {
 public:
  // Sections in file order; each a list of "key=value" lines.
  using Section = std::pair<std::string, std::vector<std::pair<std::string, std::string>>>;
  explicit FakeProfile(std::vector<Section> sections) : sections_(std::move(sections)) {}

  std::vector<std::string> SectionNames() const override {
    std::vector<std::string> names;
    for (const auto& section : sections_) names.push_back(section.first);
    return names;
  }

  uint32_t GetInt(std::string_view section, std::string_view key, uint32_t fallback) const override {
    const std::string* value = Find(section, key);
    return value ? ScanDecimalU32(Trimmed(*value)) : fallback;
  }

  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback) const override {
    const std::string* value = Find(section, key);
    return value ? Trimmed(*value) : std::string(fallback);
  }

 private:
  static bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (ToAsciiUpper(a[i]) != ToAsciiUpper(b[i])) return false;
    }
    return true;
  }
  static std::string Trimmed(const std::string& value) {
    std::string_view v = TrimBlanks(value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
    return std::string(v);
  }
  const std::string* Find(std::string_view section, std::string_view key) const {
    for (const auto& s : sections_) {
      if (!SameName(s.first, section)) continue;
      for (const auto& [k, v] : s.second) {
        if (SameName(k, key)) return &v;
      }
      return nullptr;
    }
    return nullptr;
  }
  std::vector<Section> sections_;
};
