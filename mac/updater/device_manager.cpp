#include "mac/updater/device_manager.h"

#include <array>
#include <condition_variable>
#include <mutex>

#include "common/commands.h"
#include "mac/shared/system.h"
#include "mac/updater/ini_file_manager.h"
#include "mac/updater/run_state.h"
#include "mac/updater/sheets.h"

namespace {

std::unique_ptr<FwUpDeviceManager> gDeviceManagerObj;

using mac::io_connect_t;
using mac::io_iterator_t;
using mac::io_object_t;
using mac::io_registry_entry_t;
using mac::io_service_t;
using mac::ScopedIOObject;

std::optional<int64_t> Number(mac::IOKit& io, io_registry_entry_t entry, std::string_view key) {
  const auto value = io.IORegistryEntryCreateCFProperty(entry, key);
  if (!value || !std::holds_alternative<int64_t>(*value)) return std::nullopt;
  return std::get<int64_t>(*value);
}

std::string Name(mac::IOKit& io, io_registry_entry_t entry) {
  std::string name;
  io.IORegistryEntryGetName(entry, &name);
  return name;
}

// From `entry` down through first children until one whose name `wants`; nothing when the chain ends.
template <typename Want>
ScopedIOObject DescendFrom(mac::IOKit& io, ScopedIOObject entry, Want wants) {
  while (entry) {
    if (wants(Name(io, entry.get()))) return entry;
    io_registry_entry_t next = 0;
    if (io.IORegistryEntryGetChildEntry(entry.get(), mac::kIOServicePlane, &next) != mac::KERN_SUCCESS) return {};
    entry = ScopedIOObject(io, next);
  }
  return {};
}

// The mass-storage drivers below the device's mass-storage interfaces, in order.
std::vector<ScopedIOObject> MassStorageDrivers(mac::IOKit& io, io_service_t device, bool* iterated = nullptr) {
  std::vector<ScopedIOObject> drivers;
  io_iterator_t children = 0;
  const bool ok = io.IORegistryEntryGetChildIterator(device, mac::kIOServicePlane, &children) == mac::KERN_SUCCESS;
  if (iterated) *iterated = ok;
  if (!ok) return drivers;
  ScopedIOObject childrenOwner(io, children);
  while (ScopedIOObject interface{io, io.IOIteratorNext(children)}) {
    if (Number(io, interface.get(), "bInterfaceClass") != 8) continue;
    io_registry_entry_t first = 0;
    if (io.IORegistryEntryGetChildEntry(interface.get(), mac::kIOServicePlane, &first) != mac::KERN_SUCCESS) continue;
    ScopedIOObject driver = DescendFrom(io, ScopedIOObject(io, first), [](const std::string& n) { return IsUSBMassStorageClassName(n); });
    if (driver) drivers.push_back(std::move(driver));
  }
  return drivers;
}

// Each child of the driver, and what lies below it through first children.
template <typename Visit>
void ForEachChildChain(mac::IOKit& io, io_service_t driver, Visit visit) {
  io_iterator_t children = 0;
  if (io.IORegistryEntryGetChildIterator(driver, mac::kIOServicePlane, &children) != mac::KERN_SUCCESS) return;
  ScopedIOObject owner(io, children);
  while (io_object_t child = io.IOIteratorNext(children)) {
    if (visit(ScopedIOObject(io, child))) return;
  }
}

void Drain(mac::IOKit& io, io_iterator_t iterator) {
  while (io_object_t object = io.IOIteratorNext(iterator)) io.IOObjectRelease(object);
}

void callbackFwUpDeviceAdded(void* refCon, io_iterator_t iterator) {
  Drain(mac::Platform::current().iokit(), iterator);
  if (refCon) mac::Platform::current().defaultCenter().postNotificationName(kNotifyDeviceAdded, refCon);
}

void callbackFwUpDeviceRemoved(void* refCon, io_iterator_t iterator) {
  if (!refCon) {
    Drain(mac::Platform::current().iokit(), iterator);
    return;
  }
  mac::UserInfo info;
  info.set(kNotifyItemDeviceIterator, static_cast<int64_t>(iterator));
  mac::Platform::current().defaultCenter().postNotificationName(kNotifyDeviceRemoved, refCon, info);
}

::mac::CommandConfig ConfiguredCommand() {
  ::mac::CommandConfig config;
  if (const FwUpIniFileManager* ini = FwUpIniFileManager::getObject()) {
    config = {ini->startAddress(), ini->length(), ini->target()};
  }
  return config;
}

// The update's commands through the driver. Shared with the thread that finishes a sub-processor
// image, which holds its own reference.
class DriverCommands : public UpdateCommands {
 public:
  DriverCommands(mac::IOKit& io, io_connect_t port) : io_(io), port_(port) {}
  bool Open(uint32_t) override { return true; }
  bool Close() override { return true; }
  bool PrepareUpdate(uint32_t, uint32_t, TargetCode, uint16_t& steps) override {
    std::array<uint8_t, 2> reply{};
    if (sendStorageCommand(io_, port_, 0xE4, 0x00, reply, ::mac::kStepCountLength) != 0) return false;
    steps = BigEndian16(reply);
    return true;
  }
  bool GetPrepareRemaining(TargetCode, uint16_t& remaining) override {
    std::array<uint8_t, 2> reply{};
    if (sendStorageCommand(io_, port_, 0xE4, 0x01, reply, ::mac::kStepCountLength) != 0) return false;
    remaining = BigEndian16(reply);
    return true;
  }
  bool WriteImage(const uint8_t* data, uint32_t count, TargetCode) override {
    // The driver only reads a data-out buffer.
    return sendStorageCommand(io_, port_, 0xE4, 0x02, std::span(const_cast<uint8_t*>(data), count), count) == 0;
  }
  bool FinishWrite(TargetCode) override { return sendStorageCommand(io_, port_, 0xE4, 0x03, {}, 0) == 0; }
  bool StartVerify(uint32_t, uint32_t, TargetCode) override { return sendStorageCommand(io_, port_, 0xE4, 0x04, {}, 0) == 0; }
  bool ReadImage(uint8_t* buffer, uint32_t count, TargetCode) override {
    return sendStorageCommand(io_, port_, 0xE4, 0x05, std::span(buffer, count), count) == 0;
  }
  bool FinishVerify(TargetCode) override { return sendStorageCommand(io_, port_, 0xE4, 0x06, {}, 0) == 0; }

 private:
  mac::IOKit& io_;
  io_connect_t port_;
};

class LayerClock : public UpdateClock {
 public:
  explicit LayerClock(mac::Clock& clock) : clock_(clock) {}
  void Pause(std::chrono::milliseconds duration) override { clock_.sleepFor(duration); }

 private:
  mac::Clock& clock_;
};

}  // namespace

mac::MatchingDictionary GetServiceMatchingDictionary() {
  return mac::IOServiceMatching(isNewerThisSystemVersion(10, 11, 0) ? "IOUSBHostDevice" : "IOUSBDevice");
}
bool IsUSBMassStorageClassName(std::string_view name) {
  return name == "IOUSBMassStorageClass" || name == "IOUSBMassStorageDriver";
}
bool IsUSBInterfaceClassName(std::string_view name) { return name == "IOUSBInterface" || name == "IOUSBHostInterface"; }
bool IsVolumeOfDisk(std::string_view device, std::string_view disk) {
  if (disk.empty() || !device.starts_with(disk)) return false;
  const std::string_view rest = device.substr(disk.size());
  if (rest.empty()) return true;
  return rest.size() > 1 && rest[0] == 's' &&
         rest.find_first_not_of("0123456789", 1) == std::string_view::npos;
}

bool IsRecorderMediaName(std::string_view name) {
  return name == "KESTREL DVR Media" || name == "KESTREL PCM RECORDER Media" || name.starts_with("KESTREL DVR");
}

int sendStorageCommand(mac::IOKit& io, io_connect_t connection, uint8_t opcode, uint8_t subcode, std::span<uint8_t> buffer,
                       uint32_t length) {
  if (connection == 0) return 4;
  const ::mac::Command command = ::mac::BuildCommand(opcode, subcode, length, ConfiguredCommand());
  std::array<uint8_t, ::mac::kSenseLength> sense{};
  const uint32_t transfer = command.direction == ::mac::Direction::None ? 0 : length;
  // The driver reaches the buffers only at the addresses they are mapped to, while they are.
  const auto data = io.taskMemory().map(buffer.first(std::min<size_t>(buffer.size(), transfer)));
  const auto senseRegion = io.taskMemory().map(sense);
  const auto words = ::mac::RequestWords(command, transfer, data.address(), senseRegion.address());
  uint32_t status = 0;
  size_t statusSize = sizeof status;
  return io.IOConnectMethodStructureIStructureO(connection, ::mac::kDriverSelector, sizeof words, &statusSize, words.data(),
                                                &status);
}

// ---- Creation and destruction ----

FwUpDeviceManager& FwUpDeviceManager::getObject() {
  if (!gDeviceManagerObj) gDeviceManagerObj = std::make_unique<FwUpDeviceManager>();
  return *gDeviceManagerObj;
}

bool FwUpDeviceManager::isGlobalObject() { return gDeviceManagerObj != nullptr; }

void FwUpDeviceManager::releaseObject() {
  std::unique_ptr<FwUpDeviceManager> gone = std::move(gDeviceManagerObj);
}

FwUpDeviceManager::FwUpDeviceManager() : mac_(mac::Platform::current()), io_(mac_.iokit()) {
  serchReflashDevice();
  if (isNecessityChangeMode_ && changeDeviceModeToStorage() == 2) {
    endWithVolumesBusy();
    return;
  }
  mac_.defaultCenter().addObserver(this, kNotifyDeviceAdded, [this](const mac::Notification& n) {
    if (n.object == this) deviceAdded();
  });
  mac_.defaultCenter().addObserver(this, kNotifyDeviceRemoved, [this](const mac::Notification& n) {
    if (n.object != this) return;
    std::optional<io_iterator_t> iterator;
    if (n.userInfo) {
      if (const auto number = n.userInfo->number(kNotifyItemDeviceIterator)) iterator = static_cast<io_iterator_t>(*number);
    }
    deviceRemoved(iterator);
  });
  mac_.workspace().notificationCenter().addObserver(this, std::string(mac::NSWorkspaceDidMountNotification),
                                                    [this](const mac::Notification&) { didMount(); });
  observingMounts_ = true;
  startDeviceNotify();
}

FwUpDeviceManager::~FwUpDeviceManager() {
  joinFinishing();
  CloseSheet();
  cancelTimers();
  releaseDeviceNotify();
  mac_.workspace().notificationCenter().removeObserver(this);
  mac_.defaultCenter().removeObserver(this);
  awake_.reset();
  initStockDeviceResource();
}

void FwUpDeviceManager::endWithVolumesBusy() {
  initStockDeviceResource();
  runAlertPanel("", LocalizedText(13013));
  EndProgram();
}

void FwUpDeviceManager::initStockDeviceResource() {
  if (dataPort_ != 0) io_.IOServiceClose(dataPort_);
  dataPort_ = 0;
  productID_ = 0;
  serialID_ = 0;
  locationID_ = 0;
  isNecessityChangeMode_ = false;
  firmwareVersion_ = {};
  volumePaths_.clear();
}

// ---- Search ----

bool FwUpDeviceManager::serchReflashDevice() {
  ++searches_;
  mac::mach_port_t master = 0;
  if (io_.IOMasterPort(mac::MACH_PORT_NULL, &master) != mac::KERN_SUCCESS) return false;
  io_iterator_t devices = 0;
  if (io_.IOServiceGetMatchingServices(master, GetServiceMatchingDictionary(), &devices) != mac::KERN_SUCCESS) return false;
  ScopedIOObject devicesOwner(io_, devices);
  while (ScopedIOObject device{io_, io_.IOIteratorNext(devices)}) {
    mac::Properties properties;
    if (io_.IORegistryEntryCreateCFProperties(device.get(), &properties) != mac::KERN_SUCCESS) continue;
    const auto vendor = properties.find("idVendor");
    if (vendor == properties.end() || !std::holds_alternative<int64_t>(vendor->second) ||
        static_cast<uint16_t>(std::get<int64_t>(vendor->second)) != kRecorderVendorId) {
      continue;
    }
    const io_connect_t port = getSCSIPort(device.get());
    if (port == 0) continue;
    // With two recorders the last one is held; the first one's connection must not be left open.
    if (dataPort_ != 0 && dataPort_ != port) io_.IOServiceClose(dataPort_);
    dataPort_ = port;
    const auto product = properties.find("idProduct");
    productID_ = product != properties.end() && std::holds_alternative<int64_t>(product->second)
                     ? static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(std::get<int64_t>(product->second))))
                     : 0;
    isNecessityChangeMode_ = get_IsNecessityChangeMode(port);
    stockModelName(port);
    stockSerialID(port);
    stockFirmwareVersion(port);
    stockVolumeInfo(device.get());
    stockLocationID(device.get());
  }
  return dataPort_ != 0;
}

io_connect_t FwUpDeviceManager::getSCSIPort(io_service_t device) {
  ScopedIOObject service;
  for (ScopedIOObject& driver : MassStorageDrivers(io_, device)) {
    ForEachChildChain(io_, driver.get(), [&](ScopedIOObject child) {
      ScopedIOObject found = DescendFrom(io_, std::move(child), [](const std::string& n) { return n == kBlockCommandsServiceName; });
      if (!found) return false;
      service = std::move(found);
      return true;
    });
    if (service) break;
  }
  if (!service) return 0;
  io_connect_t connect = 0;
  if (io_.IOServiceOpen(service.get(), io_.mach_task_self(), 0, &connect) != mac::kIOReturnSuccess) return 0;
  return connect;
}

bool FwUpDeviceManager::stockVolumeInfo(io_service_t device) {
  volumePaths_.clear();
  if (device == 0) return false;
  bool iterated = false;
  for (ScopedIOObject& driver : MassStorageDrivers(io_, device, &iterated)) {
    ForEachChildChain(io_, driver.get(), [&](ScopedIOObject child) {
      ScopedIOObject media = DescendFrom(io_, std::move(child), [](const std::string& n) { return IsRecorderMediaName(n); });
      if (media) getVolumeFSRefFromIORegistry(media.get());
      return false;
    });
  }
  return iterated;
}

void FwUpDeviceManager::getVolumeFSRefFromIORegistry(io_registry_entry_t entry) {
  const auto bsd = io_.IORegistryEntryCreateCFProperty(entry, "BSD Name");
  if (!bsd || !std::holds_alternative<std::string>(*bsd)) return;
  mac::FSRef ref;
  if (getMountStatus(std::get<std::string>(*bsd), &ref) != mac::noErr) return;
  if (const auto path = getVolumePathFromFSRef(&ref)) volumePaths_.push_back(*path);
}

mac::OSErr FwUpDeviceManager::getMountStatus(const std::string& bsdName, mac::FSRef* ref) {
  for (int index = 1;; ++index) {
    mac::FSVolumeRefNum volume = 0;
    mac::FSRef root;
    if (const mac::OSErr error = mac_.volumes().FSGetVolumeInfo(index, &volume, &root); error != mac::noErr) return error;
    std::string device;
    if (const mac::OSErr error = mac_.volumes().PBHGetVolParmsSync(volume, &device); error != mac::noErr) return error;
    // The disk or one of its partitions. A bare prefix would also take another disk whose number
    // begins the same (disk12s1 for disk1), and the update would eject that disk instead.
    if (IsVolumeOfDisk(device, bsdName)) {
      if (ref) *ref = root;
      return mac::noErr;
    }
  }
}

std::optional<std::string> FwUpDeviceManager::getVolumePathFromFSRef(const mac::FSRef* ref) {
  if (!ref) return std::nullopt;
  std::string path;
  if (mac_.volumes().FSRefMakePath(*ref, &path) != mac::noErr) return std::nullopt;
  return path;
}

bool FwUpDeviceManager::stockLocationID(io_service_t device) {
  locationID_ = 0;
  const auto location = Number(io_, device, "locationID");
  if (!location) return false;
  locationID_ = static_cast<uint32_t>(*location);
  return true;
}

bool FwUpDeviceManager::stockSerialID(io_connect_t port) {
  const uint32_t serial = getSerialID(port);
  if (serial != 0) serialID_ = serial;
  return serial != 0;
}

bool FwUpDeviceManager::updateVolumeInfo() {
  mac::mach_port_t master = 0;
  if (io_.IOMasterPort(mac::MACH_PORT_NULL, &master) != mac::KERN_SUCCESS) return false;
  io_iterator_t devices = 0;
  if (io_.IOServiceGetMatchingServices(master, GetServiceMatchingDictionary(), &devices) != mac::KERN_SUCCESS) return false;
  ScopedIOObject devicesOwner(io_, devices);
  while (ScopedIOObject device{io_, io_.IOIteratorNext(devices)}) {
    const auto vendor = Number(io_, device.get(), "idVendor");
    if (!vendor || static_cast<uint16_t>(*vendor) != kRecorderVendorId) continue;
    const auto product = Number(io_, device.get(), "idProduct");
    if (!product || static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(*product))) != productID_) continue;
    const io_connect_t port = getSCSIPort(device.get());
    if (port == 0) continue;
    const bool same = getSerialID(port) == serialID_;
    const bool rebuilt = same && stockVolumeInfo(device.get());
    io_.IOServiceClose(port);
    if (same) return rebuilt;
  }
  return false;
}

bool FwUpDeviceManager::unmountDeviceAllVolume() {
  if (volumePaths_.empty()) return true;
  bool ejected = false;
  for (const std::string& path : volumePaths_) {
    mac::FSRef ref;
    mac::FSVolumeRefNum volume = 0;
    if (mac_.volumes().FSPathMakeRef(path, &ref) != mac::noErr) continue;
    if (mac_.volumes().FSGetCatalogInfo(ref, &volume) != mac::noErr) continue;
    bool done = false;
    for (int attempt = 0; attempt < 10 && !done; ++attempt) {
      done = mac_.volumes().FSEjectVolumeSync(volume) == mac::noErr;
      if (!done) mac_.clock().sleepFor(mac::Milliseconds(500));
    }
    if (!done) return false;
    ejected = true;
  }
  if (ejected) mac_.clock().sleepFor(mac::Milliseconds(1000));
  return true;
}

// ---- Watching ----

bool FwUpDeviceManager::startDeviceNotify() {
  if (notificationPortRef_) return false;
  mac::mach_port_t master = 0;
  if (io_.IOMasterPort(mac::MACH_PORT_NULL, &master) != mac::KERN_SUCCESS) return false;
  notificationPortRef_ = io_.IONotificationPortCreate(master);
  if (!notificationPortRef_) return false;
  mac_.runLoop().addSource(*io_.IONotificationPortGetRunLoopSource(notificationPortRef_), mac::RunLoopMode::Default);
  const mac::MatchingDictionary matching = GetServiceMatchingDictionary();
  if (io_.IOServiceAddMatchingNotification(notificationPortRef_, mac::kIOFirstMatchNotification, matching,
                                           callbackFwUpDeviceAdded, this, &addedIterator_) != mac::KERN_SUCCESS) {
    return false;
  }
  callbackFwUpDeviceAdded(nullptr, addedIterator_);
  if (io_.IOServiceAddMatchingNotification(notificationPortRef_, mac::kIOTerminatedNotification, matching,
                                           callbackFwUpDeviceRemoved, this, &removedIterator_) != mac::KERN_SUCCESS) {
    return false;
  }
  callbackFwUpDeviceRemoved(nullptr, removedIterator_);
  return true;
}

void FwUpDeviceManager::releaseDeviceNotify() {
  if (addedIterator_) io_.IOObjectRelease(addedIterator_);
  if (removedIterator_) io_.IOObjectRelease(removedIterator_);
  addedIterator_ = removedIterator_ = 0;
  if (!notificationPortRef_) return;
  mac_.runLoop().removeSource(*io_.IONotificationPortGetRunLoopSource(notificationPortRef_), mac::RunLoopMode::Default);
  io_.IONotificationPortDestroy(notificationPortRef_);
  notificationPortRef_ = nullptr;
}

void FwUpDeviceManager::cancelTimers() {
  if (deviceAddedTimer_) deviceAddedTimer_->invalidate();
  if (volumeMountTimer_) volumeMountTimer_->invalidate();
  deviceAddedTimer_.reset();
  volumeMountTimer_.reset();
}

void FwUpDeviceManager::deviceAdded() {
  FwUpAlertSheet::endAnySheet();
  if (deviceAddedTimer_) return;  // arrivals settle into one search
  deviceAddedTimer_ = mac_.runLoop().timerWithTimeInterval(2.0, false, [this](mac::Timer&) { deviceAddedTimerProc(); });
  mac_.runLoop().addTimer(deviceAddedTimer_, mac::RunLoopMode::Default);
}

void FwUpDeviceManager::deviceAddedTimerProc() {
  if (!deviceAddedTimer_) return;
  cancelTimers();
  readyReflashDeviceResource();
}

void FwUpDeviceManager::didMount() {
  cancelTimers();
  volumeMountTimer_ = mac_.runLoop().timerWithTimeInterval(2.0, false, [this](mac::Timer&) { volumeMountTimerProc(); });
  mac_.runLoop().addTimer(volumeMountTimer_, mac::RunLoopMode::Default);
}

void FwUpDeviceManager::volumeMountTimerProc() {
  if (!volumeMountTimer_) return;
  cancelTimers();
  readyReflashDeviceResource();
}

void FwUpDeviceManager::readyReflashDeviceResource() {
  if (dataPort_ != 0) return;
  if (!serchReflashDevice() || !notifyOnOff_) return;
  if (isNecessityChangeMode_) {
    if (changeDeviceModeToStorage() == 2) endWithVolumesBusy();
    return;
  }
  if (delegate_) delegate_->deviceAdded(*this);
}

void FwUpDeviceManager::deviceRemoved(std::optional<io_iterator_t> iterator) {
  FwUpAlertSheet::endAnySheet();
  if (dataPort_ == 0) {
    if (iterator) Drain(io_, *iterator);
    return;
  }
  if (iterator) {
    if (isExistDeviceFromIterator(*iterator)) return;
    initStockDeviceResource();
  }
  if (notifyOnOff_ && delegate_) delegate_->deviceRemoved(*this);
}

bool FwUpDeviceManager::isExistDeviceFromIterator(io_iterator_t iterator) {
  bool gone = locationID_ == 0;
  while (io_object_t service = io_.IOIteratorNext(iterator)) {
    if (Number(io_, service, "locationID") == static_cast<int64_t>(locationID_)) gone = true;
    io_.IOObjectRelease(service);
  }
  return !gone;
}

// ---- Identification ----

bool FwUpDeviceManager::isInvalidDevice() { return isInvalidDevice(dataPort_); }

bool FwUpDeviceManager::isInvalidDevice(io_connect_t port) {
  std::array<uint8_t, ::mac::kReplyBufferSize> reply{};
  if (sendStorageCommand(io_, port, 0xE0, 0x0B, reply, ::mac::kDeviceIdLength) != 0) return true;
  FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  if (!ini) return true;
  return !::mac::IsKnownDeviceId(BigEndian32(reply), ini->deviceID(), [ini](uint16_t id) { return ini->isFirmware2Device(id); });
}

bool FwUpDeviceManager::get_IsNecessityChangeMode(io_connect_t port) {
  std::array<uint8_t, ::mac::kReplyBufferSize> reply{};
  if (sendStorageCommand(io_, port, 0xE0, 0x01, reply, ::mac::kDeviceStateLength) != 0) return false;
  return NeedsStorageMode(reply);
}

uint32_t FwUpDeviceManager::getSerialID(io_connect_t port) {
  std::array<uint8_t, ::mac::kReplyBufferSize> reply{};
  if (sendStorageCommand(io_, port, 0xE0, 0x06, reply, ::mac::kSerialLength) != 0) return 0;
  return static_cast<uint32_t>(::mac::DecodeSerialId(reply));
}

bool FwUpDeviceManager::stockModelName(io_connect_t port) {
  std::array<uint8_t, ::mac::kReplyBufferSize> reply{};
  if (sendStorageCommand(io_, port, 0xE0, 0x00, reply, ::mac::kModelNameLength) != 0) return false;
  modelName_ = ::mac::DecodeModelName(reply);
  return true;
}

bool FwUpDeviceManager::stockFirmwareVersion(io_connect_t port) {
  std::array<uint8_t, ::mac::kReplyBufferSize> reply{};
  if (sendStorageCommand(io_, port, 0xE0, 0x02, reply, ::mac::kFirmwareVersionsLength) != 0) return false;
  const FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  const std::string text = ::mac::DecodeFirmwareVersionText(reply, ini ? ini->target() : 0);
  _FIRM_VERSION version;
  convertVersionStringToStruct(text, &version);
  firmwareVersion_ = version;
  return true;
}

int FwUpDeviceManager::changeDeviceModeToStorage() {
  if (!isNecessityChangeMode_) return 1;
  if (!unmountDeviceAllVolume()) return 2;
  const io_connect_t port = dataPort_;
  setDataPort(0);
  initStockDeviceResource();
  sendStorageCommand(io_, port, 0xE2, 0x02, {}, 0);
  io_.IOServiceClose(port);
  return 0;
}

// ---- The update ----

MacUpdateJob FwUpDeviceManager::job(std::vector<uint8_t>& image) const {
  MacUpdateJob job;
  const FwUpIniFileManager* ini = FwUpIniFileManager::getObject();
  if (!ini) return job;
  job.target = ini->target() != 0 ? TargetCode::Sub : TargetCode::Main;
  job.startAddress = ini->startAddress();
  job.length = ini->length();
  const std::string name = ini->isFirm2Bin() ? "Firm2.bin" : "Firm.bin";
  image = mac_.fileManager().contentsAtPath(mac_.mainBundle().resourcePath() + "/" + name).value_or(std::vector<uint8_t>{});
  job.image = image;
  return job;
}

int FwUpDeviceManager::runFirmwareUpdate(mac::Window& parent) {
  parent_ = &parent;
  std::vector<uint8_t> image;
  const MacUpdateJob update = job(image);
  LayerClock clock(mac_.clock());
  const int result = RunMacFirmwareUpdate(update, std::make_shared<DriverCommands>(io_, dataPort_), *this, clock);
  CloseSheet();
  if (result != kMacUpdateDone) awake_.reset();
  return result;
}

bool FwUpDeviceManager::verifyFirmwareUpdate(mac::Window& parent) {
  parent_ = &parent;
  std::vector<uint8_t> image;
  const MacUpdateJob update = job(image);
  DriverCommands commands(io_, dataPort_);
  const bool verified = VerifyMacFirmwareUpdate(update, commands, *this);
  CloseSheet();
  awake_.reset();
  return verified;
}

bool FwUpDeviceManager::PrepareVolumes() {
  cancelTimers();
  releaseDeviceNotify();
  mac_.workspace().notificationCenter().removeObserver(this);
  if (delegate_) delegate_->firmwareWillUpdate(*this);
  // From the ejection on, the computer stays awake until the sequence has ended.
  awake_ = std::make_unique<mac::ScopedSleepPrevention>(mac_.power(), "Firmware Update");
  updateVolumeInfo();
  return unmountDeviceAllVolume();
}

void FwUpDeviceManager::ShowPhase(uint32_t messageId) {
  if (!parent_) return;
  if (!progress_) {
    progress_ = std::make_unique<FwUpProgressSheet>();
    progress_->setWindowTitle(LocalizedText(10000));
    progress_->setMaxValue(100.0);
    session_ = progress_->showProgress(*parent_);
  }
  progress_->setMessage1(LocalizedText(messageId));
  SetProgress(0);
}

void FwUpDeviceManager::SetProgress(uint32_t percent) {
  if (!progress_) return;
  progress_->setDoubleValue(percent);
  progress_->setMessage2(std::to_string(percent) + "%");
  mac_.application().runModalSession(session_);
}

void FwUpDeviceManager::CloseSheet() {
  if (!progress_) return;
  mac_.application().endModalSession(session_);
  progress_->closeProgress();
  progress_.reset();
}

void FwUpDeviceManager::joinFinishing() {
  if (finishing_.joinable()) finishing_.join();
}

void FwUpDeviceManager::RunDetachedAndWait(std::function<void()> task, std::chrono::milliseconds limit) {
  joinFinishing();
  struct Shared {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
  };
  auto shared = std::make_shared<Shared>();
  finishing_ = std::thread([shared, task = std::move(task)] {
    task();
    std::lock_guard lock(shared->mutex);
    shared->done = true;
    shared->ended.notify_all();
  });
  // Rounds of a second of the Mac's time. The command itself takes no time of this machine's worth
  // speaking of, so a short real wait after each round tells whether the thread has ended.
  const auto rounds = limit / std::chrono::seconds(1);
  for (int64_t round = 0; round < rounds; ++round) {
    mac_.clock().sleepFor(mac::Milliseconds(1000));
    std::unique_lock lock(shared->mutex);
    if (shared->ended.wait_for(lock, std::chrono::milliseconds(500), [&] { return shared->done; })) {
      lock.unlock();
      // The recorder is given one more second before anything else is asked of it.
      mac_.clock().sleepFor(mac::Milliseconds(1000));
      return;
    }
  }
}
