#pragma once
// A system of drives for the command layer's tests: each drive letter has a type and may hold an
// in-memory recorder. Every pass-through request is recorded as it arrived, then checked and answered
// the way a driver would.

#include <windows.h>
#include <ntddscsi.h>

#include <array>
#include <map>
#include <vector>

#include "sim/recorder.h"

namespace fake {

struct Request {
  DWORD code = 0;
  DWORD inSize = 0;
  DWORD outSize = 0;
  SCSI_PASS_THROUGH buffered{};        // when code is the buffered one
  SCSI_PASS_THROUGH_DIRECT direct{};   // when code is the direct one
  std::vector<uint8_t> cdb;
};

struct Drive {
  UINT type = DRIVE_REMOVABLE;
  sim::Recorder* recorder = nullptr;  // null: a drive that answers no vendor command
};

struct Host {
  std::map<char, Drive> drives;
  std::vector<Request> requests;
  int failCalls = 0;  // the next n DeviceIoControl calls fail
  int opens = 0;
  int closes = 0;
  std::vector<EXECUTION_STATE> executionStates;  // every request, in order
  void Reset() { *this = Host{}; }
};

Host& TheHost();

}  // namespace fake
