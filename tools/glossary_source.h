#pragma once
// The glossary as the team edits it: UTF-8, one row per text id, TAB-separated columns
// "WinVal JPN ENU ...". Turned into the shipped UTF-16 table only when every row is sound, because a
// translation that lost a "%s" or a "\n" shows up on a user's screen, not in the build.

#include <string>
#include <string_view>
#include <vector>

#include "common/glossary.h"

struct GlossarySourceResult {
  GlossaryTable table;
  std::vector<std::string> errors;  // each names its line: "line 12: ..."
};

GlossarySourceResult ParseGlossarySource(std::string_view utf8);

// The "%s"/"%%" tokens and the escapes of a text, in order: what must survive translation.
std::vector<std::u16string> PlaceholderSignature(std::u16string_view text);
