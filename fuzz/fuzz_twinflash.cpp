// Twinflash's configuration and the shell command of a stage: whatever TWINFLASH.INI holds, reading it
// never fails; whatever the bundle path holds, the command is one word (the updater's path, exactly)
// and the switch, with no character the shell would act on left bare.
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "mac/shared/ini_file.h"
#include "mac/wrapper/twinflash_rules.h"

namespace {

// The words of a command as the shell reads them, for the quoting our escape produces; anything the
// shell would treat specially aborts.
std::string FirstWord(std::string_view command, std::string_view& rest) {
  std::string word;
  size_t i = 0;
  for (; i < command.size() && command[i] != ' '; ++i) {
    const char c = command[i];
    if (c == '\\') {
      if (++i >= command.size()) std::abort();
      word.push_back(command[i]);
    } else if (c == '\'') {
      const size_t end = command.find('\'', i + 1);
      if (end == std::string_view::npos) std::abort();
      word.append(command.substr(i + 1, end - i - 1));
      i = end;
    } else if (std::strchr("\"$`;&|<>()*?[]#~=%!{}^\t\n", c)) {
      std::abort();
    } else {
      word.push_back(c);
    }
  }
  rest = command.substr(i);
  return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const IniSectionTable table = ParseIniBytes(std::span(data, size), IniDecoding::Utf8Only);
  const auto info = table.find(std::string(kTwinflashSection));
  (void)ReadTwinflashConfig(info == table.end() ? nullptr : &info->second);

  const std::string path(reinterpret_cast<const char*>(data), size);
  if (path.find('\0') != std::string::npos) return 0;
  std::string_view rest;
  const std::string command = StageCommand(path, "/MODULES/Reflash1.app", 1);
  const std::string word = FirstWord(command, rest);
  if (word != path + "/Contents/Resources/MODULES/Reflash1.app/Contents/MacOS/Reflash") std::abort();
  if (rest != " -nc1") std::abort();
  return 0;
}
