#pragma once
// The single-target updater's command line. Each argument is compared by itself, the program name
// included, without regard to letter case; arguments nobody knows are ignored, so the two-stage wrapper
// and older shortcuts may pass options of their own.

#include <span>
#include <string>

struct CommandLineOptions {
  bool ChainedRun = false;  // started as a stage of the two-stage wrapper
  int ChainedStage = 0;     // 0 not chained, 1 "-nc1", 2 "-nc2"
  bool DmOption = false;
  bool SilentOption = false;
  char DriveLetter = '\0';  // '\0' when no "-dr..." argument was given
};

// Both passes over the arguments: "-nc1"/"-nc2" first, then "-dm", "-silent" and "-dr...".
// A later "-nc1"/"-nc2" or "-dr..." overrides an earlier one.
CommandLineOptions ParseCommandLine(std::span<const std::string> arguments);
