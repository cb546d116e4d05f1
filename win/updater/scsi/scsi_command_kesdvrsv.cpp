#include "win/updater/scsi/scsi_command_kesdvrsv.h"

#include <cstring>
#include <vector>

#include "win/updater/service/service_client.h"

namespace {
uint32_t T(TargetCode target) { return static_cast<uint32_t>(target); }
}  // namespace

CScsiCommandKesDvrSV::~CScsiCommandKesDvrSV() { Close(); }

bool CScsiCommandKesDvrSV::Open(uint32_t drive) {
  // As with the pass-through: a device left open is closed, not lost.
  Close();
  if (!service_ || drive >= 26 || !AcquireApiLock()) return false;
  uint32_t handle = 0;
  HRESULT result = E_FAIL;
  try {
    result = service_->OpenDevice(DevicePath(drive).c_str(), handle);
  } catch (const ServiceError&) {
    // The path could not be handed to the service: the drive is simply not open.
  }
  if (result != S_OK) {
    ReleaseApiLock();
    return false;
  }
  device_ = handle;
  return true;
}

bool CScsiCommandKesDvrSV::Close() {
  if (service_ && device_ != 0) service_->CloseDevice(device_);
  device_ = 0;
  ReleaseApiLock();
  return true;
}

bool CScsiCommandKesDvrSV::Send(const service::Call& call) {
  if (!service_ || device_ == 0) return false;
  return service_->SendCommand(device_, call.code, call.subCode, call.block.data(), static_cast<uint32_t>(call.block.size())) ==
         S_OK;
}

bool CScsiCommandKesDvrSV::Receive(uint32_t code, uint32_t subCode, uint8_t* buffer, uint32_t capacity,
                                   uint32_t* replyLength) {
  if (!service_ || device_ == 0) return false;
  uint32_t length = 0;
  const bool received = service_->ReceiveReply(device_, code, subCode, buffer, capacity, length) == S_OK;
  if (replyLength) *replyLength = length;
  return received;
}

bool CScsiCommandKesDvrSV::Inquiry(uint8_t (&inquiry)[32]) {
  uint8_t reply[service::kReplyCapacity] = {};
  if (!Receive(service::kInquiry, 0, reply, sizeof reply)) return false;
  // The service answers with the vendor identification only; it goes where an inquiry carries it.
  std::memcpy(inquiry + 8, reply, 8);
  return true;
}

bool CScsiCommandKesDvrSV::GetDeviceId(uint32_t& deviceId) {
  uint8_t reply[service::kReplyCapacity] = {};
  if (!Receive(service::kDeviceId, 0, reply, sizeof reply)) return false;
  deviceId = BigEndian32(reply);
  return true;
}

bool CScsiCommandKesDvrSV::GetFirmwareVersions(std::string& main, std::string& sub) {
  uint8_t reply[service::kReplyCapacity] = {};
  if (!Receive(service::kFirmwareVersions, 0, reply, sizeof reply)) return false;
  const FirmwareVersionTexts texts = DecodeFirmwareVersions(reply);
  main = texts.main;
  sub = texts.sub;
  return true;
}

bool CScsiCommandKesDvrSV::GetModelName(std::string& model) {
  uint8_t reply[service::kReplyCapacity] = {};
  if (!Receive(service::kModelName, 0, reply, sizeof reply)) return false;
  model = DecodeModelName(reply);
  return true;
}

// The service cannot read the storage size: a storage check needs the pass-through.
bool CScsiCommandKesDvrSV::GetStorageSize(uint64_t&) { return false; }

bool CScsiCommandKesDvrSV::PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) {
  const auto calls = service::PrepareUpdateCalls(startAddress, length, target);
  if (!Send(calls[0])) return false;
  uint8_t reply[service::kPrepareReplyCapacity] = {};
  if (!Receive(calls[1].code, calls[1].subCode, reply, calls[1].capacity)) return false;
  steps = BigEndian16(reply);
  return true;
}

bool CScsiCommandKesDvrSV::GetPrepareRemaining(TargetCode target, uint16_t& remaining) {
  uint8_t reply[service::kReplyCapacity] = {};
  if (!Receive(service::kPrepareRemaining, T(target), reply, sizeof reply)) return false;
  remaining = BigEndian16(reply);
  return true;
}

bool CScsiCommandKesDvrSV::WriteImage(const uint8_t* data, uint32_t count, TargetCode target) {
  if (device_ == 0) return false;
  // The pieces are cut from a private copy, two bytes longer than the data.
  std::vector<uint8_t> copy(data, data + count);
  copy.resize(size_t{count} + 2);
  for (const service::Call& call : service::WriteImageCalls(std::span(copy.data(), count), target)) {
    if (!Send(call)) return false;
  }
  return true;
}

bool CScsiCommandKesDvrSV::FinishWrite(TargetCode target) {
  return Send(service::SendCall(service::kFinishWrite, T(target), service::ZeroBlock()));
}

bool CScsiCommandKesDvrSV::StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) {
  return Send(service::SendCall(service::kStartVerify, T(target), service::AddressLengthBlock(startAddress, length)));
}

bool CScsiCommandKesDvrSV::ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) {
  (void)target;  // the sub-code of the read is the byte count
  uint32_t length = 0;
  if (!Receive(service::kReadImage, count, buffer, count + 1, &length)) return false;
  // The rest of a short reply's buffer still holds the previous piece, which padded firmware may
  // well repeat: compared as it stands, a failed read-back would pass.
  return length >= count;
}

bool CScsiCommandKesDvrSV::FinishVerify(TargetCode target) {
  return Send(service::SendCall(service::kFinishVerify, T(target), service::ZeroBlock()));
}

// The service carries both, but their results are not to be trusted: callers read the state bytes and
// watch the drive instead.
bool CScsiCommandKesDvrSV::ChangeModeToStorage(int value) {
  Send(service::SendCall(service::kChangeMode, static_cast<uint32_t>(value), service::ChangeModeBlock()));
  return false;
}

bool CScsiCommandKesDvrSV::GetDeviceState(uint8_t* buffer, uint32_t size) {
  if (buffer && size > 0) Receive(service::kDeviceState, 0, buffer, size);
  return false;
}
