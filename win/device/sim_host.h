#pragma once
// What the simulation builds can ask of their simulated host (tests, the demo's diagnostics).

#include <string>

namespace device {
char SimulatedDriveLetter();
std::string SimulatedRecorderPath();
// Compares the recorder's drive with what the host last reported and sends the notifications for
// any difference now, on the calling thread, instead of at the watcher's next look. For tests and
// diagnostics that need to know that everything up to this moment has been reported.
void PollSimulatedDrive();
}  // namespace device
