#include "common/command_line.h"

#include <string_view>

namespace {

// ASCII folding only: the options are ASCII, and folding by the user's locale could make a foreign
// letter look like one of them.
char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithFolded(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (Fold(text[i]) != lowerPrefix[i]) return false;
  }
  return true;
}

bool EqualsFolded(std::string_view text, std::string_view lower) {
  return text.size() == lower.size() && StartsWithFolded(text, lower);
}

}  // namespace

CommandLineOptions ParseCommandLine(std::span<const std::string> arguments) {
  CommandLineOptions options;

  for (const std::string& argument : arguments) {
    if (EqualsFolded(argument, "-nc1")) {
      options.ChainedRun = true;
      options.ChainedStage = 1;
    } else if (EqualsFolded(argument, "-nc2")) {
      options.ChainedRun = true;
      options.ChainedStage = 2;
    }
  }

  for (const std::string& argument : arguments) {
    if (EqualsFolded(argument, "-dm")) {
      options.DmOption = true;
    } else if (EqualsFolded(argument, "-silent")) {
      options.SilentOption = true;
    } else if (StartsWithFolded(argument, "-dr")) {
      // "-drive:E" is the documented form; any "-dr..." takes its last character as it stands.
      options.DriveLetter = argument.back();
    }
  }
  return options;
}
