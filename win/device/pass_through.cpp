#include "win/device/pass_through.h"

#include <cstddef>

namespace device {

namespace {

bool Within(uint64_t offset, uint64_t length, uint64_t size) { return offset <= size && length <= size - offset; }

bool ValidCommon(uint8_t cdbLength, uint8_t dataIn) {
  const bool cdbOk = cdbLength == 6 || cdbLength == 10 || cdbLength == 12 || cdbLength == 16;
  const bool dirOk = dataIn == SCSI_IOCTL_DATA_OUT || dataIn == SCSI_IOCTL_DATA_IN || dataIn == SCSI_IOCTL_DATA_UNSPECIFIED;
  return cdbOk && dirOk;
}

// A driver probes the caller's buffer before it touches it; so does the simulated one, so that a
// request carrying a bad address fails instead of faulting (a buffered request sent with the
// direct code carries its small data offset where the address belongs).
bool Accessible(const void* address, size_t length, bool write) {
  if (length == 0) return true;
  auto at = reinterpret_cast<uintptr_t>(address);
  const uintptr_t end = at + length;
  if (end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &info, sizeof info) == 0 || info.State != MEM_COMMIT) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE;
    const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE;
    if ((info.Protect & (write ? writable : readable)) == 0 || (info.Protect & PAGE_GUARD) != 0) return false;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

}  // namespace

bool DecodePassThrough(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, PassThroughRequest& r) {
  // The request comes back in the same buffer it was sent in.
  if (!in || !out || in != out) return false;
  auto* bytes = static_cast<uint8_t*>(out);

  if (code == IOCTL_SCSI_PASS_THROUGH) {
    if (inSize < sizeof(SCSI_PASS_THROUGH) || outSize < sizeof(SCSI_PASS_THROUGH)) return false;
    auto* spt = static_cast<SCSI_PASS_THROUGH*>(out);
    if (spt->Length != sizeof(SCSI_PASS_THROUGH) || !ValidCommon(spt->CdbLength, spt->DataIn)) return false;
    if (!Within(spt->SenseInfoOffset, spt->SenseInfoLength, outSize) ||
        (spt->SenseInfoLength != 0 && spt->SenseInfoOffset < sizeof(SCSI_PASS_THROUGH))) {
      return false;
    }
    const uint64_t dataOffset = spt->DataBufferOffset;
    const uint64_t length = spt->DataTransferLength;
    if (length != 0 && dataOffset < sizeof(SCSI_PASS_THROUGH)) return false;
    if (spt->DataIn == SCSI_IOCTL_DATA_IN) {
      if (!Within(dataOffset, length, outSize)) return false;
      r.dataInArea = std::span(bytes + dataOffset, static_cast<size_t>(length));
    } else if (spt->DataIn == SCSI_IOCTL_DATA_OUT) {
      if (!Within(dataOffset, length, inSize)) return false;
      r.dataOut = std::span<const uint8_t>(bytes + dataOffset, static_cast<size_t>(length));
    } else if (length != 0) {
      return false;
    }
    r.cdb = std::span<const uint8_t>(spt->Cdb, spt->CdbLength);
    r.dataIn = spt->DataIn;
    r.sense = bytes + spt->SenseInfoOffset;
    r.senseLength = spt->SenseInfoLength;
    r.scsiStatus = &spt->ScsiStatus;
    r.transferLength = &spt->DataTransferLength;
    r.returnedOnSuccess = spt->DataIn == SCSI_IOCTL_DATA_IN ? static_cast<DWORD>(dataOffset + length)
                                                            : static_cast<DWORD>(sizeof(SCSI_PASS_THROUGH));
    return true;
  }

  if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
    if (inSize < sizeof(SCSI_PASS_THROUGH_DIRECT) || outSize < sizeof(SCSI_PASS_THROUGH_DIRECT)) return false;
    auto* sptd = static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
    if (sptd->Length != sizeof(SCSI_PASS_THROUGH_DIRECT) || !ValidCommon(sptd->CdbLength, sptd->DataIn)) return false;
    if (!Within(sptd->SenseInfoOffset, sptd->SenseInfoLength, outSize) ||
        (sptd->SenseInfoLength != 0 && sptd->SenseInfoOffset < sizeof(SCSI_PASS_THROUGH_DIRECT))) {
      return false;
    }
    const size_t length = sptd->DataTransferLength;
    if (!Accessible(sptd->DataBuffer, length, sptd->DataIn == SCSI_IOCTL_DATA_IN)) return false;
    auto* data = static_cast<uint8_t*>(sptd->DataBuffer);
    if (sptd->DataIn == SCSI_IOCTL_DATA_IN) {
      r.dataInArea = std::span(data, length);
    } else if (sptd->DataIn == SCSI_IOCTL_DATA_OUT) {
      r.dataOut = std::span<const uint8_t>(data, length);
    } else if (length != 0) {
      return false;
    }
    r.cdb = std::span<const uint8_t>(sptd->Cdb, sptd->CdbLength);
    r.dataIn = sptd->DataIn;
    r.sense = bytes + sptd->SenseInfoOffset;
    r.senseLength = sptd->SenseInfoLength;
    r.scsiStatus = &sptd->ScsiStatus;
    r.transferLength = &sptd->DataTransferLength;
    r.returnedOnSuccess = static_cast<DWORD>(sizeof(SCSI_PASS_THROUGH_DIRECT));
    return true;
  }
  return false;
}

}  // namespace device
