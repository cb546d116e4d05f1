#pragma once
// What the simulation builds can ask of their simulated host (tests, the demo's diagnostics).

#include <string>

namespace device {
char SimulatedDriveLetter();
std::string SimulatedRecorderPath();
}  // namespace device
