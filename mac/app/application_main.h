#pragma once
// The start of a Mac program as a real process inside a simulated Mac on disk (made by mac-sim): our
// NSApplicationMain. Everything the program needs is found from two things, the environment variable
// MAC_SIM_ROOT (the folder of this machine that is the Mac's "/") and the path the program was
// started by: the bundle and the executable within the Mac, the bundle's Info.plist and localized
// strings, the system version and the user's languages on the Mac's disk, and the world file with the
// other programs, the login items and the recorder. The program's Platform is installed and the Mac
// library bound to it for the program's life; the application runs until it terminates, which ends
// the process.
//
// Its transcript goes to the file MAC_SIM_TRANSCRIPT names (appended to, so the programs a program
// starts write theirs into the same one in order), else to standard output; each line is marked with
// the program ("[Firmware Update -nc1]"). The moves of the simulated user come from the script file
// MAC_SIM_SCRIPT names: its part for this program (see ScriptForProgram).

#include <functional>
#include <memory>

#include "mac/platform/appkit.h"
#include "mac/shared/library.h"

namespace mac {

class Platform;

using DelegateFactory = std::function<std::unique_ptr<ApplicationDelegate>(Platform& platform)>;

// How a run inside the simulated Mac ends besides the program's own exit codes.
inline constexpr int kExitSimulationFailed = 86;  // the script was not followed, or nobody answered
inline constexpr int kExitNoSimulatedMac = 87;    // no simulated Mac, bundle or Info.plist to start in
inline constexpr int kExitProgramFailed = 88;     // an exception left the program

// The mark of the transcript line that says why a run failed (mac-sim looks for it).
inline constexpr const char* kFailureMark = "!! ";

int ApplicationMain(int argc, char** argv, const DelegateFactory& factory, MacProgram program = MacProgram::Reflash);

}  // namespace mac
