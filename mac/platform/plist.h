#pragma once
// Property lists in their XML form, as bundles carry them in Info.plist: dictionaries, arrays,
// strings, integers and booleans. Reals, dates and data are kept as the text they are written in.
// Reading never trusts the input: a malformed list, or one nested deeper than 64 levels, is refused.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mac {

struct PlistValue;
struct PlistEntry;
using PlistArray = std::vector<PlistValue>;
// Keys in the order written; a later duplicate key does not replace the first.
using PlistDictionary = std::vector<PlistEntry>;

struct PlistValue {
  std::variant<std::string, int64_t, bool, PlistArray, PlistDictionary> value;

  const std::string* string() const { return std::get_if<std::string>(&value); }
  const int64_t* integer() const { return std::get_if<int64_t>(&value); }
  const PlistDictionary* dictionary() const { return std::get_if<PlistDictionary>(&value); }
  const PlistArray* array() const { return std::get_if<PlistArray>(&value); }
  // The value of a key of a dictionary; nothing for other values or a missing key.
  const PlistValue* objectForKey(std::string_view key) const;
};

struct PlistEntry {
  std::string key;
  PlistValue value;
};

// CFPropertyListCreateFromXMLData (immutable). Nothing, with `error` set, for anything malformed.
std::optional<PlistValue> PropertyListFromData(std::span<const uint8_t> data, std::string* error = nullptr);

// The XML form of a list, for the simulation to write the bundles it sets up.
std::string XmlPropertyList(const PlistValue& value);

}  // namespace mac
