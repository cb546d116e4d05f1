#include "mac/shared/file_names.h"

#include <algorithm>
#include <cstdio>

#include "common/text_scan.h"

namespace {

constexpr int kLastCopyNumber = 9999;

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return ToAsciiUpper(x) == ToAsciiUpper(y); });
}

}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  if (folder.empty()) return std::string(name);
  std::string path(folder);
  if (path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

std::optional<std::string> renameIfExistAtPath(std::string_view path,
                                               const std::function<bool(const std::string& path)>& exists) {
  if (path.empty()) return std::nullopt;
  if (!exists(std::string(path))) return std::string(path);

  std::string_view trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
  const size_t slash = trimmed.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? std::string_view() : trimmed.substr(0, slash + 1);
  std::string_view base = slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1);
  std::string_view extension;
  const size_t dot = base.rfind('.');
  if (dot != std::string_view::npos && dot > 0) {
    extension = base.substr(dot);
    base = base.substr(0, dot);
  }

  for (int number = 1; number <= kLastCopyNumber; ++number) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "_%04d", number);
    std::string candidate = JoinPath(folder, std::string(base) + suffix);
    candidate.append(extension);
    if (!exists(candidate)) return candidate;
  }
  return std::nullopt;
}

std::optional<std::string> stringWithInsensitiveResourcePathName(std::optional<std::string_view> name,
                                                                 std::string_view resourcesPath,
                                                                 const std::vector<std::string>& entries) {
  if (!name) return std::nullopt;
  for (const std::string& entry : entries) {
    if (EqualIgnoringAsciiCase(entry, *name)) return JoinPath(resourcesPath, entry);
  }
  return std::nullopt;
}

std::string EscapePathForShell(std::string_view path) {
  std::string out;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || u >= 0x80 ||
                       c == '/' || c == '.' || c == '_' || c == '-' || c == ',' || c == ':' || c == '@' || c == '+';
    if (c == '\n') {
      out += "'\n'";
      continue;
    }
    if (!plain) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}
