#include "mac/shared/ini_file.h"

#include <memory>
#include <utility>

#include "mac/shared/text_decoding.h"

namespace {

struct SharedReader {
  IniDecoding decoding = IniDecoding::UnicodeOrUtf8;
  FwUpIniFile::Loader loader;
  std::unique_ptr<FwUpIniFile> object;
};

SharedReader& Shared() {
  static SharedReader shared;
  return shared;
}

std::string WithoutBlanks(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (char c : line) {
    if (c != ' ' && c != '\t') out.push_back(c);
  }
  return out;
}

// The section being read: its name while one is open, and its keys.
struct OpenSection {
  std::optional<std::string> name;
  IniSection keys;

  void CloseInto(IniSectionTable& table) {
    if (name) table.try_emplace(std::move(*name), std::move(keys));
    name.reset();
    keys.clear();
  }
};

}  // namespace

IniSectionTable ParseIniText(std::string_view text) {
  IniSectionTable table;
  OpenSection current;
  ForEachLine(text, [&](std::string_view raw) {
    const std::string line = WithoutBlanks(raw.substr(0, raw.find(';')));
    if (line.empty()) return;

    const size_t open = line.find('[');
    if (open != std::string::npos) {
      current.CloseInto(table);
      const size_t close = line.find(']', open + 1);
      if (close != std::string::npos) current.name = line.substr(open + 1, close - open - 1);
      return;
    }
    if (!current.name) return;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    current.keys.try_emplace(line.substr(0, equals), line.substr(equals + 1));
  });
  current.CloseInto(table);
  return table;
}

IniSectionTable ParseIniBytes(std::span<const uint8_t> bytes, IniDecoding decoding) {
  const auto text = decoding == IniDecoding::Utf8Only ? DecodeUtf8Text(bytes) : DecodeUnicodeOrUtf8Text(bytes);
  if (!text) return {};
  return ParseIniText(*text);
}

FwUpIniFile::FwUpIniFile(IniDecoding decoding, Loader loader) : decoding_(decoding), loader_(std::move(loader)) {}

void FwUpIniFile::setReader(IniDecoding decoding, Loader loader) {
  Shared().decoding = decoding;
  Shared().loader = std::move(loader);
}

FwUpIniFile* FwUpIniFile::iniFileObject(std::optional<std::string_view> path) {
  SharedReader& shared = Shared();
  shared.object.reset();
  if (!path) return nullptr;
  shared.object = std::make_unique<FwUpIniFile>(shared.decoding, shared.loader);
  shared.object->createIniFileDictionary(path);
  return shared.object.get();
}

FwUpIniFile* FwUpIniFile::getObject() { return Shared().object.get(); }

void FwUpIniFile::releaseObject() { Shared().object.reset(); }

void FwUpIniFile::createIniFileDictionary(std::optional<std::string_view> path) {
  sections_.clear();
  if (!path || !loader_) return;
  const auto bytes = loader_(std::string(*path));
  if (!bytes) return;
  sections_ = ParseIniBytes(*bytes, decoding_);
}

const IniSection* FwUpIniFile::getIniFileSectionDictionary(std::optional<std::string_view> section) const {
  if (!section) return nullptr;
  const auto found = sections_.find(*section);
  return found == sections_.end() ? nullptr : &found->second;
}

std::optional<std::string> FwUpIniFile::getIniFileValue(std::optional<std::string_view> key,
                                                        std::optional<std::string_view> section) const {
  const IniSection* keys = getIniFileSectionDictionary(section);
  if (!key || !keys) return std::nullopt;
  const auto found = keys->find(*key);
  if (found == keys->end()) return std::nullopt;
  return found->second;
}
