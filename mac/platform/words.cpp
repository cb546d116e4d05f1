#include "mac/platform/words.h"

namespace mac {

bool SplitWords(std::string_view line, std::vector<Word>& words, std::string& error) {
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      Word word{{}, true};
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d != '\\') {
          word.text.push_back(d);
          continue;
        }
        if (i >= line.size()) break;
        const char e = line[i++];
        if (e == 'n') word.text.push_back('\n');
        else if (e == 't') word.text.push_back('\t');
        else if (e == '"' || e == '\\') word.text.push_back(e);
        else {
          error = std::string("unknown escape \\") + e;
          return false;
        }
      }
      if (!closed) {
        error = "text without its closing quote";
        return false;
      }
      words.push_back(std::move(word));
    } else {
      const size_t start = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '"') ++i;
      words.push_back(Word{std::string(line.substr(start, i - start)), false});
    }
  }
  return true;
}

}  // namespace mac
