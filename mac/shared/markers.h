#pragma once
// The folders in /tmp through which the Mac programs tell each other how far they are. The system
// empties /tmp when it restarts, which is what the first one relies on.

// A driver was installed and the computer has not been restarted since.
inline constexpr const char* kRebootCheckDir = "/tmp/KestrelReflashRebootCheck";
// A stage updater has finished its stage; the wrapper reads it, and removes it.
inline constexpr const char* kCompleteCheckDir = "/tmp/KestrelReflashCompleteCheck";
