#pragma once
// Scripts of the simulated user, for demo runs: one move per line, made in order (see Simulation).
// Texts are written in double quotes, with \" \\ \n and \t inside. A "#" outside quotes starts a
// comment; blank lines are skipped.
//
//   wait 2s | wait 500ms | wait 1.5s   let time pass
//   click "Next" [in "<window>"]       click a button (waits until it is there and enabled)
//   key return                         the button whose key equivalent is Return
//   alert 1                            answer the alert panel: 1 default, 2 alternate, 3 other
//   close "<window>"                   the window's close button
//   menu "Quit Firmware Update"        choose a menu item
//   quit                               a quit request from outside
//   plug | unplug                      the recorder's cable
//   busy <count> | busy on | busy off  the recorder's volume refuses <count> (on: every) ejection
//   password grant|refuse|cancel       the answer to the next password dialog
//   launch "<name>" | quit-app "<name>" another application starts or quits
//   switch-user                        another user takes over the screen
//   expect-window "<title>"            checks, each waiting up to its patience
//   expect-no-window "<title>"
//   expect-text "<text>"               a visible window shows the text
//   expect-end                         the application has ended
//   capture "<file>"                   writes what the front window shows (window_picture.h) to a
//                                      file of this machine, for drawing; the transcript says what
//
// The whole script is read before anything runs: a line that cannot be read is reported with its
// number and nothing is queued.
//
// One script can drive every program of a run, the programs a program starts through the shell
// included: the moves before the first "for" line are those of the program the run starts; a line
//
//   for "<program or argument>"        for "-nc1", for "Firmware Update"
//
// starts the moves of each program started inside it whose application name, or one of whose
// arguments, is that text (the first such section that fits).

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mac/platform/simulation.h"

namespace mac {

struct ScriptMove {
  int line = 0;
  std::function<void(Simulation&)> queue;
};
// The moves of a script, not queued yet; SimulationError ("line N: ...") for a line it cannot read.
std::vector<ScriptMove> ParseScript(std::string_view script);

// The part of `script` for one program of a run (`top`: the program the run started), with the
// other parts' lines left blank so that line numbers stay those of the whole script.
std::string ScriptForProgram(std::string_view script, bool top, std::string_view applicationName,
                             const std::vector<std::string>& arguments);

// Queues the moves of the script, or none of them (see ParseScript).
void QueueScript(Simulation& simulation, std::string_view script);

// Queues the script and runs until every move has been made.
void RunScript(Simulation& simulation, std::string_view script, Milliseconds limit = Milliseconds(600000));

}  // namespace mac
