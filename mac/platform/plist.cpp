#include "mac/platform/plist.h"

#include <charconv>

namespace mac {

const PlistValue* PlistValue::objectForKey(std::string_view key) const {
  const PlistDictionary* dict = dictionary();
  if (!dict) return nullptr;
  for (const PlistEntry& entry : *dict) {
    if (entry.key == key) return &entry.value;
  }
  return nullptr;
}

namespace {

constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<PlistValue> document(std::string& error) {
    skipMisc();
    if (!startsWith("<plist")) return fail("no <plist> element", error);
    const size_t close = text_.find('>', pos_);
    if (close == std::string_view::npos) return fail("unterminated <plist>", error);
    pos_ = close + 1;
    auto value = readValue(0);
    if (!value) return fail(error_, error);
    skipMisc();
    if (!consume("</plist>")) return fail("no </plist> after the value", error);
    skipMisc();
    if (pos_ != text_.size()) return fail("text after </plist>", error);
    return value;
  }

 private:
  std::optional<PlistValue> fail(const std::string& message, std::string& error) {
    error = message;
    return std::nullopt;
  }
  std::optional<PlistValue> failValue(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return std::nullopt;
  }

  bool startsWith(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }
  bool consume(std::string_view s) {
    if (!startsWith(s)) return false;
    pos_ += s.size();
    return true;
  }

  void skipBlanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r' || text_[pos_] == '\n')) {
      ++pos_;
    }
  }

  // Blanks, the XML declaration, the document type and comments.
  void skipMisc() {
    while (true) {
      skipBlanks();
      if (startsWith("<?")) {
        const size_t end = text_.find("?>", pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 2;
      } else if (startsWith("<!--")) {
        const size_t end = text_.find("-->", pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 3;
      } else if (startsWith("<!")) {
        const size_t end = text_.find('>', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
      } else {
        return;
      }
    }
  }

  // The name of the tag at pos_ ("<name>" or "<name/>"), leaving pos_ after it.
  bool readTag(std::string& name, bool& empty) {
    if (!consume("<")) return false;
    const size_t end = text_.find('>', pos_);
    if (end == std::string_view::npos) return false;
    std::string_view inside = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    empty = !inside.empty() && inside.back() == '/';
    if (empty) inside.remove_suffix(1);
    const size_t blank = inside.find_first_of(" \t\r\n");
    name = std::string(inside.substr(0, blank));
    return !name.empty() && name[0] != '/';
  }

  // Character data up to "</name>", with the five entities and numeric references replaced.
  std::optional<std::string> readText(const std::string& name) {
    const std::string close = "</" + name + ">";
    const size_t end = text_.find(close, pos_);
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view raw = text_.substr(pos_, end - pos_);
    pos_ = end + close.size();
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '<') return std::nullopt;
      if (raw[i] != '&') {
        out.push_back(raw[i]);
        continue;
      }
      const size_t semi = raw.find(';', i);
      if (semi == std::string_view::npos) return std::nullopt;
      const std::string_view entity = raw.substr(i + 1, semi - i - 1);
      if (entity == "lt") out.push_back('<');
      else if (entity == "gt") out.push_back('>');
      else if (entity == "amp") out.push_back('&');
      else if (entity == "quot") out.push_back('"');
      else if (entity == "apos") out.push_back('\'');
      else if (!appendReference(entity, out)) return std::nullopt;
      i = semi;
    }
    return out;
  }

  static bool appendReference(std::string_view entity, std::string& out) {
    if (entity.size() < 2 || entity[0] != '#') return false;
    const bool hex = entity[1] == 'x';
    const std::string_view digits = entity.substr(hex ? 2 : 1);
    uint32_t code = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
    if (ec != std::errc() || end != digits.data() + digits.size() || code == 0 || code > 0x10FFFF) return false;
    if (code >= 0xD800 && code <= 0xDFFF) return false;
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
    return true;
  }

  std::optional<PlistValue> readValue(int depth) {
    if (depth > kMaxDepth) return failValue("nested too deeply");
    skipMisc();
    std::string name;
    bool empty = false;
    if (!readTag(name, empty)) return failValue("a value was expected");
    if (name == "true" || name == "false") {
      if (!empty && !consume("</" + name + ">")) return failValue("<" + name + "> is not closed");
      return PlistValue{name == "true"};
    }
    if (name == "dict") return empty ? PlistValue{PlistDictionary{}} : readDictionary(depth);
    if (name == "array") return empty ? PlistValue{PlistArray{}} : readArray(depth);
    if (name != "string" && name != "integer" && name != "real" && name != "date" && name != "data") {
      return failValue("unknown element <" + name + ">");
    }
    std::string text;
    if (!empty) {
      auto read = readText(name);
      if (!read) return failValue("<" + name + "> is not closed properly");
      text = std::move(*read);
    }
    if (name != "integer") return PlistValue{std::move(text)};
    std::string_view digits = text;
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\n' || digits.front() == '\t')) digits.remove_prefix(1);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\n' || digits.back() == '\t')) digits.remove_suffix(1);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    int64_t number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size()) return failValue("<integer> holds no integer");
    return PlistValue{number};
  }

  std::optional<PlistValue> readDictionary(int depth) {
    PlistDictionary dict;
    while (true) {
      skipMisc();
      if (consume("</dict>")) return PlistValue{std::move(dict)};
      std::string name;
      bool empty = false;
      if (!readTag(name, empty) || name != "key") return failValue("a <key> was expected in <dict>");
      std::string key;
      if (!empty) {
        auto read = readText("key");
        if (!read) return failValue("<key> is not closed properly");
        key = std::move(*read);
      }
      auto value = readValue(depth + 1);
      if (!value) return std::nullopt;
      bool seen = false;
      for (const PlistEntry& entry : dict) seen = seen || entry.key == key;
      if (!seen) dict.push_back(PlistEntry{std::move(key), std::move(*value)});
    }
  }

  std::optional<PlistValue> readArray(int depth) {
    PlistArray array;
    while (true) {
      skipMisc();
      if (consume("</array>")) return PlistValue{std::move(array)};
      if (pos_ >= text_.size()) return failValue("<array> is not closed");
      auto value = readValue(depth + 1);
      if (!value) return std::nullopt;
      array.push_back(std::move(*value));
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string error_;
};

std::string Escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

void Write(const PlistValue& value, int indent, std::string& out) {
  const std::string pad(static_cast<size_t>(indent), '\t');
  if (const auto* s = value.string()) {
    out += pad + "<string>" + Escaped(*s) + "</string>\n";
  } else if (const auto* n = value.integer()) {
    out += pad + "<integer>" + std::to_string(*n) + "</integer>\n";
  } else if (const auto* b = std::get_if<bool>(&value.value)) {
    out += pad + (*b ? "<true/>\n" : "<false/>\n");
  } else if (const auto* a = value.array()) {
    out += pad + "<array>\n";
    for (const auto& item : *a) Write(item, indent + 1, out);
    out += pad + "</array>\n";
  } else if (const auto* d = value.dictionary()) {
    out += pad + "<dict>\n";
    for (const PlistEntry& entry : *d) {
      out += pad + "\t<key>" + Escaped(entry.key) + "</key>\n";
      Write(entry.value, indent + 1, out);
    }
    out += pad + "</dict>\n";
  }
}

}  // namespace

std::optional<PlistValue> PropertyListFromData(std::span<const uint8_t> data, std::string* error) {
  std::string message;
  const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  auto value = Reader(text).document(message);
  if (!value && error) *error = message;
  return value;
}

std::string XmlPropertyList(const PlistValue& value) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n";
  Write(value, 0, out);
  out += "</plist>\n";
  return out;
}

}  // namespace mac
