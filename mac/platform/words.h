#pragma once
// The line format the simulation's text files share (scripts, the world file): words separated by
// blanks, texts in double quotes with \n, \t, \" and \\, and # to the end of the line a comment.

#include <string>
#include <string_view>
#include <vector>

namespace mac {

struct Word {
  std::string text;
  bool quoted = false;
};

// Words and quoted texts of one line; false with `error` for an unterminated text or a bad escape.
bool SplitWords(std::string_view line, std::vector<Word>& words, std::string& error);

}  // namespace mac
