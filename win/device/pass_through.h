#pragma once
// The pass-through request as the driver receives it, checked field by field: what the simulated
// drive accepts is exactly what a real one would, so a wrongly built request fails in the tests.

#include <windows.h>
#include <ntddscsi.h>

#include <cstdint>
#include <span>

namespace device {

struct PassThroughRequest {
  std::span<const uint8_t> cdb;
  uint8_t dataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
  std::span<const uint8_t> dataOut;  // the data-out phase
  std::span<uint8_t> dataInArea;     // where data-in bytes go, as long as the transfer length
  uint8_t* sense = nullptr;
  uint8_t senseLength = 0;
  uint8_t* scsiStatus = nullptr;
  ULONG* transferLength = nullptr;   // updated to the bytes actually moved
  DWORD returnedOnSuccess = 0;       // the output bytes DeviceIoControl reports
};

// Decodes the buffer of IOCTL_SCSI_PASS_THROUGH or IOCTL_SCSI_PASS_THROUGH_DIRECT. False for a
// request a driver would refuse: wrong Length, CDB length or direction, areas outside the buffers.
bool DecodePassThrough(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, PassThroughRequest& request);

}  // namespace device
