#include "win/updater/scsi/scsi_command.h"

#include "win/updater/scsi/scsi_command_kesdvrsv.h"
#include "win/updater/scsi/scsi_command_spti.h"
#include "win/updater/service/service_client.h"

namespace {

bool SystemTooOld() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwMajorVersion <= 4;
}

std::unique_ptr<SendRV2Service> ConnectService() {
  try {
    return std::make_unique<SendRV2Service>();
  } catch (...) {
    // No reachable service: only administrators will reach the recorder.
    return nullptr;
  }
}

}  // namespace

CScsiCommand::CScsiCommand() {
  if (SystemTooOld()) return;
  service_ = ConnectService();
  if (IsUserAdmin()) {
    transport_ = std::make_unique<CScsiCommandSpti>();
  } else if (service_) {
    transport_ = std::make_unique<CScsiCommandKesDvrSV>(service_.get());
    viaService_ = 1;
  }
}

CScsiCommand::CScsiCommand(int mode) {
  if (SystemTooOld()) return;
  service_ = ConnectService();
  if (mode == 1) {
    service_.reset();
    transport_ = std::make_unique<CScsiCommandSpti>();
  }
}

CScsiCommand::~CScsiCommand() {
  transport_.reset();
  service_.reset();
}

template <class Fn>
bool CScsiCommand::Bracketed(uint32_t drive, Fn command) {
  if (!transport_ || !transport_->Open(drive)) return false;
  const bool ok = command(*transport_);
  transport_->Close();
  return ok;
}

bool CScsiCommand::Open(uint32_t drive) { return transport_ && transport_->Open(drive); }
bool CScsiCommand::Close() { return transport_ && transport_->Close(); }

uint16_t CScsiCommand::FindDevice(uint32_t deviceId) { return transport_ ? transport_->FindDevice(deviceId) : NotFound; }

uint16_t CScsiCommand::CheckDrive(uint32_t drive, uint32_t deviceId) {
  return transport_ ? transport_->CheckDrive(drive, deviceId) : NotFound;
}

bool CScsiCommand::IsSameDrive(uint32_t a, uint32_t b, uint32_t deviceId) {
  return transport_ && transport_->IsSameDrive(a, b, deviceId);
}

bool CScsiCommand::GetStorageSize(uint32_t drive, uint64_t& size) {
  uint64_t value = 0;
  if (!Bracketed(drive, [&](CScsiCommandIF& t) { return t.GetStorageSize(value); })) return false;
  size = value;
  return true;
}

bool CScsiCommand::GetFirmwareVersions(uint32_t drive, std::string& main, std::string& sub) {
  main.clear();
  sub.clear();
  return Bracketed(drive, [&](CScsiCommandIF& t) { return t.GetFirmwareVersions(main, sub); });
}

bool CScsiCommand::GetModelName(uint32_t drive, std::string& model) {
  model.clear();
  return Bracketed(drive, [&](CScsiCommandIF& t) { return t.GetModelName(model); });
}

bool CScsiCommand::GetDeviceState(uint32_t drive, uint8_t* buffer, uint32_t size) {
  return Bracketed(drive, [&](CScsiCommandIF& t) { return t.GetDeviceState(buffer, size); });
}

bool CScsiCommand::ChangeModeToStorage(uint32_t drive, int value) {
  return Bracketed(drive, [&](CScsiCommandIF& t) { return t.ChangeModeToStorage(value); });
}

bool CScsiCommand::PrepareUpdate(uint32_t startAddress, uint32_t length, TargetCode target, uint16_t& steps) {
  return transport_ && transport_->PrepareUpdate(startAddress, length, target, steps);
}
bool CScsiCommand::GetPrepareRemaining(TargetCode target, uint16_t& remaining) {
  return transport_ && transport_->GetPrepareRemaining(target, remaining);
}
bool CScsiCommand::WriteImage(const uint8_t* data, uint32_t count, TargetCode target) {
  return transport_ && transport_->WriteImage(data, count, target);
}
bool CScsiCommand::FinishWrite(TargetCode target) { return transport_ && transport_->FinishWrite(target); }
bool CScsiCommand::StartVerify(uint32_t startAddress, uint32_t length, TargetCode target) {
  return transport_ && transport_->StartVerify(startAddress, length, target);
}
bool CScsiCommand::ReadImage(uint8_t* buffer, uint32_t count, TargetCode target) {
  return transport_ && transport_->ReadImage(buffer, count, target);
}
bool CScsiCommand::FinishVerify(TargetCode target) { return transport_ && transport_->FinishVerify(target); }
