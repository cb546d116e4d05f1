#include "mac/platform/strings.h"

#include <string_view>

#include "common/utf.h"

namespace mac {

namespace {

std::optional<std::string> Decode(std::span<const uint8_t> b) {
  const bool le = b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE;
  const bool be = b.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF;
  if (le || be) {
    std::u16string text;
    for (size_t i = 2; i + 1 < b.size(); i += 2) {
      text.push_back(static_cast<char16_t>(le ? b[i] | (b[i + 1] << 8) : (b[i] << 8) | b[i + 1]));
    }
    return Utf16ToUtf8(text);
  }
  std::string_view text(reinterpret_cast<const char*>(b.data()), b.size());
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!Utf8ToUtf16(text)) return std::nullopt;  // neither UTF-16 with its mark nor UTF-8
  return std::string(text);
}

class Reader {
 public:
  explicit Reader(std::string_view text) : t_(text) {}

  bool table(StringsTable& out, std::string& error) {
    for (;;) {
      if (!skip(error)) return false;
      if (pos_ >= t_.size()) return true;
      std::string key;
      std::string value;
      if (!token(key, error)) return false;
      if (!skip(error)) return false;
      if (!eat('=')) return fail("\"=\" expected after the key \"" + key + "\"", error);
      if (!skip(error) || !token(value, error)) return false;
      if (!skip(error)) return false;
      if (!eat(';')) return fail("\";\" expected after the value of \"" + key + "\"", error);
      out.emplace(std::move(key), std::move(value));
    }
  }

 private:
  bool fail(std::string message, std::string& error) {
    size_t line = 1;
    for (size_t i = 0; i < pos_ && i < t_.size(); ++i) line += t_[i] == '\n';
    error = "line " + std::to_string(line) + ": " + message;
    return false;
  }
  bool eat(char c) {
    if (pos_ < t_.size() && t_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Blanks and comments.
  bool skip(std::string& error) {
    while (pos_ < t_.size()) {
      const char c = t_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++pos_;
      } else if (t_.substr(pos_, 2) == "//") {
        const size_t end = t_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? t_.size() : end + 1;
      } else if (t_.substr(pos_, 2) == "/*") {
        const size_t end = t_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return fail("a comment without its end", error);
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }
  static bool Bare(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
  }
  static int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  bool token(std::string& out, std::string& error) {
    if (pos_ >= t_.size()) return fail("the file ends where a text was expected", error);
    if (t_[pos_] != '"') {
      const size_t start = pos_;
      while (pos_ < t_.size() && Bare(t_[pos_])) ++pos_;
      if (pos_ == start) return fail("a text in double quotes was expected", error);
      out = std::string(t_.substr(start, pos_ - start));
      return true;
    }
    std::u16string pending;  // \U escapes, which may be surrogate pairs
    auto flush = [&] {
      if (!pending.empty()) out += Utf16ToUtf8(pending);
      pending.clear();
    };
    for (++pos_; pos_ < t_.size();) {
      const char c = t_[pos_++];
      if (c == '"') {
        flush();
        return true;
      }
      if (c != '\\') {
        flush();
        out.push_back(c);
        continue;
      }
      if (pos_ >= t_.size()) break;
      const char e = t_[pos_++];
      if (e == 'U' || e == 'u') {
        int code = 0;
        for (int i = 0; i < 4; ++i) {
          const int h = pos_ < t_.size() ? Hex(t_[pos_]) : -1;
          if (h < 0) return fail("\\U needs four hexadecimal digits", error);
          code = code * 16 + h;
          ++pos_;
        }
        pending.push_back(static_cast<char16_t>(code));
        continue;
      }
      flush();
      if (e == 'n') out.push_back('\n');
      else if (e == 't') out.push_back('\t');
      else if (e == 'r') out.push_back('\r');
      else if (e == '"' || e == '\\' || e == '\'') out.push_back(e);
      else return fail(std::string("unknown escape \\") + e, error);
    }
    return fail("a text without its closing quote", error);
  }

  std::string_view t_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<StringsTable> ParseStrings(std::span<const uint8_t> bytes, std::string* error) {
  const auto text = Decode(bytes);
  std::string why;
  if (!text) {
    if (error) *error = "neither UTF-16 with its byte-order mark nor UTF-8";
    return std::nullopt;
  }
  StringsTable table;
  if (!Reader(*text).table(table, why)) {
    if (error) *error = why;
    return std::nullopt;
  }
  return table;
}

}  // namespace mac
