#include "win/updater/scsi/scsi_command_spti.h"

#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "win/device/device_io.h"

namespace {

constexpr int kAttempts = 10;
constexpr DWORD kRetryPauseMs = 10;
constexpr UCHAR kSenseLength = 24;

// The request buffers: the system's header, then our own areas. Every offset and size is taken from
// the layout, so that a 64-bit build is as right as the shipped 32-bit one.
struct BufferedRequest {
  SCSI_PASS_THROUGH header;
  ULONG filler;
  UCHAR sense[32];
  UCHAR data[kBufferedDataSize];
};
struct DirectRequest {
  SCSI_PASS_THROUGH_DIRECT header;
  ULONG filler;
  UCHAR sense[32];
};
static_assert(sizeof(void*) != 4 || (sizeof(SCSI_PASS_THROUGH) == 44 && offsetof(BufferedRequest, sense) == 48 &&
                                     offsetof(BufferedRequest, data) == 80 && sizeof(DirectRequest) == 80),
              "the 32-bit pass-through layout");

template <class Header>
void FillHeader(Header& h, const CommandBlock& block, ULONG senseOffset) {
  h.Length = sizeof(Header);
  h.CdbLength = block.cdbLength;
  h.SenseInfoLength = kSenseLength;
  h.DataIn = static_cast<UCHAR>(block.phase);
  h.TimeOutValue = block.timeoutSeconds;
  h.SenseInfoOffset = senseOffset;
  std::memcpy(h.Cdb, block.cdb.data(), block.cdbLength);
}

// Up to ten calls while the call itself fails; the command succeeded when the call did and the
// recorder answered with good status. Sense data is not looked at.
template <class Request>
bool Issue(HANDLE volume, DWORD code, Request& request, DWORD inSize, DWORD outSize) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    DWORD returned = 0;
    if (device::IoControl(volume, code, &request, inSize, &request, outSize, &returned)) {
      return request.header.ScsiStatus == 0;
    }
    Sleep(kRetryPauseMs);
  }
  return false;
}

}  // namespace

CScsiCommandSpti::~CScsiCommandSpti() { Close(); }

bool CScsiCommandSpti::Open(uint32_t drive) {
  // Whatever was open is let go first: its handle would be lost, and its lock held would make this
  // open wait ten seconds for ourselves.
  Close();
  if (drive >= 26 || !AcquireApiLock()) return false;
  volume_ = device::OpenVolume(DevicePath(drive).c_str());
  if (volume_ == INVALID_HANDLE_VALUE) {
    ReleaseApiLock();
    return false;
  }
  return true;
}

bool CScsiCommandSpti::Close() {
  if (volume_ != INVALID_HANDLE_VALUE) device::CloseVolume(volume_);
  volume_ = INVALID_HANDLE_VALUE;
  ReleaseApiLock();
  return true;
}

bool CScsiCommandSpti::Buffered(const CommandBlock& block, uint8_t* reply) {
  BufferedRequest request{};
  FillHeader(request.header, block, offsetof(BufferedRequest, sense));
  request.header.DataTransferLength = block.transferLength;
  request.header.DataBufferOffset = offsetof(BufferedRequest, data);
  const DWORD outSize = static_cast<DWORD>(offsetof(BufferedRequest, data) + block.transferLength);
  if (!Issue(volume_, IOCTL_SCSI_PASS_THROUGH, request, sizeof(SCSI_PASS_THROUGH), outSize)) return false;
  if (reply) std::memcpy(reply, request.data, sizeof request.data);
  return true;
}

bool CScsiCommandSpti::Direct(const CommandBlock& block, void* data) {
  DirectRequest request{};
  FillHeader(request.header, block, offsetof(DirectRequest, sense));
  request.header.DataTransferLength = block.transferLength;
  request.header.DataBuffer = data;
  return Issue(volume_, IOCTL_SCSI_PASS_THROUGH_DIRECT, request, sizeof(DirectRequest), sizeof(DirectRequest));
}

bool CScsiCommandSpti::Inquiry(uint8_t (&inquiry)[32]) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::Inquiry(), reply)) return false;
  std::memcpy(inquiry, reply, sizeof inquiry);
  return true;
}

bool CScsiCommandSpti::GetDeviceId(uint32_t& deviceId) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::GetDeviceId(), reply)) return false;
  deviceId = BigEndian32(reply);
  return true;
}

bool CScsiCommandSpti::GetFirmwareVersions(std::string& main, std::string& sub) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::GetFirmwareVersions(), reply)) return false;
  const FirmwareVersionTexts texts = DecodeFirmwareVersions(reply);
  main = texts.main;
  sub = texts.sub;
  return true;
}

bool CScsiCommandSpti::GetModelName(std::string& model) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::GetModelName(), reply)) return false;
  model = DecodeModelName(reply);
  return true;
}

bool CScsiCommandSpti::GetStorageSize(uint64_t& size) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::GetStorageSize(), reply)) return false;
  size = BigEndian64(reply);
  return true;
}

bool CScsiCommandSpti::PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::PrepareUpdate(startAddress, length, target), reply)) return false;
  steps = BigEndian16(reply);
  return true;
}

bool CScsiCommandSpti::GetPrepareRemaining(TargetCode target, uint16_t& remaining) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::GetPrepareRemaining(target), reply)) return false;
  remaining = BigEndian16(reply);
  return true;
}

bool CScsiCommandSpti::WriteImage(const uint8_t* data, uint32_t count, TargetCode target) {
  return Direct(cmd::WriteImage(count, target), const_cast<uint8_t*>(data));
}

bool CScsiCommandSpti::FinishWrite(TargetCode target) { return Buffered(cmd::FinishWrite(target)); }

bool CScsiCommandSpti::StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) {
  return Buffered(cmd::StartVerify(startAddress, length, target));
}

bool CScsiCommandSpti::ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) {
  return Direct(cmd::ReadImage(count, target), buffer);
}

bool CScsiCommandSpti::FinishVerify(TargetCode target) { return Buffered(cmd::FinishVerify(target)); }

bool CScsiCommandSpti::ChangeModeToStorage(int) { return Direct(cmd::ChangeModeToStorage(), nullptr); }

bool CScsiCommandSpti::GetDeviceState(uint8_t* buffer, uint32_t size) {
  uint8_t reply[kBufferedDataSize];
  if (!Buffered(cmd::GetDeviceState(), reply)) return false;
  // The first two bytes are a big-endian number; they are handed on in host order.
  const uint16_t head = BigEndian16(reply);
  std::memcpy(reply, &head, sizeof head);
  if (buffer) std::memcpy(buffer, reply, std::min<size_t>(size, sizeof reply));
  return true;
}
