#include "mac/platform/script.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <vector>

#include "mac/platform/processes.h"
#include "mac/platform/words.h"

namespace mac {

namespace {

// "2s", "1.5s", "500ms".
bool ParseDuration(std::string_view text, Milliseconds& duration) {
  double factor = 0;
  if (text.ends_with("ms")) {
    factor = 1;
    text.remove_suffix(2);
  } else if (text.ends_with("s")) {
    factor = 1000;
    text.remove_suffix(1);
  } else {
    return false;
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !(value >= 0) || value > 86400000) return false;
  duration = Milliseconds(std::llround(value * factor));
  return true;
}

bool ParseCount(std::string_view text, int& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

using Queue = std::function<void(Simulation&)>;

// One line's move, or an error message.
bool ParseLine(const std::vector<Word>& w, Queue& queue, std::string& error) {
  const std::string& name = w[0].text;
  auto text = [&](size_t i) { return i < w.size() && w[i].quoted; };
  auto exactly = [&](size_t n) { return w.size() == n; };

  if (name == "wait" && !w[0].quoted) {
    Milliseconds d{};
    if (!exactly(2) || !ParseDuration(w[1].text, d)) return error = "a duration such as 2s or 500ms was expected", false;
    queue = [d](Simulation& s) { s.wait(d); };
  } else if (name == "click" && text(1) && (exactly(2) || (exactly(4) && w[2].text == "in" && !w[2].quoted && text(3)))) {
    queue = [button = w[1].text, window = w.size() == 4 ? w[3].text : std::string()](Simulation& s) { s.click(button, window); };
  } else if (name == "key" && exactly(2) && w[1].text == "return") {
    queue = [](Simulation& s) { s.pressKey("\r"); };
  } else if (name == "alert" && exactly(2)) {
    int n = 0;
    if (!ParseCount(w[1].text, n) || n < 1 || n > 3) return error = "alert takes the button's number, 1 to 3", false;
    queue = [n](Simulation& s) { s.answerAlert(n); };
  } else if (name == "close" && exactly(2) && text(1)) {
    queue = [title = w[1].text](Simulation& s) { s.closeWindow(title); };
  } else if (name == "menu" && exactly(2) && text(1)) {
    queue = [title = w[1].text](Simulation& s) { s.chooseMenuItem(title); };
  } else if (name == "quit" && exactly(1)) {
    queue = [](Simulation& s) { s.quit(); };
  } else if (name == "plug" && exactly(1)) {
    queue = [](Simulation& s) { s.plug(); };
  } else if (name == "unplug" && exactly(1)) {
    queue = [](Simulation& s) { s.unplug(); };
  } else if (name == "busy" && exactly(2)) {
    int n = 0;
    if (w[1].text == "on") n = -1;
    else if (w[1].text == "off") n = 0;
    else if (!ParseCount(w[1].text, n) || n < 0) return error = "busy takes a count, on or off", false;
    queue = [n](Simulation& s) { s.setVolumeBusy(n); };
  } else if (name == "password" && exactly(2)) {
    const std::string& a = w[1].text;
    if (a != "grant" && a != "refuse" && a != "cancel") return error = "password takes grant, refuse or cancel", false;
    const OSStatus status = a == "grant" ? errAuthorizationSuccess : a == "refuse" ? errAuthorizationDenied : errAuthorizationCanceled;
    queue = [status](Simulation& s) { s.answerPassword(status); };
  } else if (name == "launch" && exactly(2) && text(1)) {
    queue = [app = w[1].text](Simulation& s) { s.launchApplication(app); };
  } else if (name == "quit-app" && exactly(2) && text(1)) {
    queue = [app = w[1].text](Simulation& s) { s.quitApplication(app); };
  } else if (name == "switch-user" && exactly(1)) {
    queue = [](Simulation& s) { s.switchUser(); };
  } else if (name == "expect-window" && exactly(2) && text(1)) {
    queue = [title = w[1].text](Simulation& s) { s.expectWindow(title); };
  } else if (name == "expect-no-window" && exactly(2) && text(1)) {
    queue = [title = w[1].text](Simulation& s) { s.expectNoWindow(title); };
  } else if (name == "expect-text" && exactly(2) && text(1)) {
    queue = [t = w[1].text](Simulation& s) { s.expectText(t); };
  } else if (name == "capture" && exactly(2) && text(1)) {
    queue = [file = w[1].text](Simulation& s) { s.capture(file); };
  } else if (name == "expect-end" && exactly(1)) {
    queue = [](Simulation& s) { s.expectTerminated(); };
  } else {
    error = w[0].quoted ? "a line starts with its command" : "\"" + name + "\" with these arguments is not a move";
    return false;
  }
  return true;
}

}  // namespace

std::vector<ScriptMove> ParseScript(std::string_view script) {
  std::vector<ScriptMove> moves;
  int number = 0;
  size_t pos = 0;
  while (pos <= script.size()) {
    const size_t end = script.find('\n', pos);
    const std::string_view line = script.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    ++number;
    std::vector<Word> words;
    std::string error;
    Queue queue;
    if (!SplitWords(line, words, error) || (!words.empty() && !ParseLine(words, queue, error))) {
      throw SimulationError("line " + std::to_string(number) + ": " + error);
    }
    if (queue) moves.push_back(ScriptMove{number, std::move(queue)});
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  return moves;
}

std::string ScriptForProgram(std::string_view script, bool top, std::string_view applicationName,
                             const std::vector<std::string>& arguments) {
  // Which section each line belongs to: -1 the top program's, else the index of its "for" line.
  std::vector<std::string_view> lines;
  for (size_t pos = 0;;) {
    const size_t end = script.find('\n', pos);
    lines.push_back(script.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  int mine = top ? -1 : -2;
  int section = -1;
  std::vector<int> sectionOf(lines.size(), -1);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<Word> words;
    std::string error;
    if (SplitWords(lines[i], words, error) && words.size() == 2 && words[0].text == "for" && !words[0].quoted && words[1].quoted) {
      section = static_cast<int>(i);
      sectionOf[i] = -3;  // the "for" line itself belongs to no program
      const std::string& match = words[1].text;
      if (mine == -2 && !top &&
          (match == applicationName || std::find(arguments.begin(), arguments.end(), match) != arguments.end())) {
        mine = section;
      }
      continue;
    }
    sectionOf[i] = section;
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (sectionOf[i] == mine) out.append(lines[i]);
    if (i + 1 < lines.size()) out.push_back('\n');
  }
  return out;
}

void QueueScript(Simulation& simulation, std::string_view script) {
  for (const ScriptMove& move : ParseScript(script)) {
    simulation.setSourceLine(move.line);
    move.queue(simulation);
  }
  simulation.setSourceLine(0);
}

void RunScript(Simulation& simulation, std::string_view script, Milliseconds limit) {
  QueueScript(simulation, script);
  simulation.runMoves(limit);
}

}  // namespace mac
