#pragma once
// What the simulation builds can ask of their simulated host (tests, the demo's diagnostics).

#include <cstddef>
#include <string>

namespace device {
// Of the first recorder, or of the second (1); '\0' and empty when there is no such recorder.
char SimulatedDriveLetter(size_t recorder = 0);
std::string SimulatedRecorderPath(size_t recorder = 0);
// Compares each recorder's drive with what the host last reported and sends the notifications for
// any difference now, on the calling thread, instead of at the watcher's next look. For tests and
// diagnostics that need to know that everything up to this moment has been reported.
void PollSimulatedDrive();
}  // namespace device
