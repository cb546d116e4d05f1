#include "mac/platform/usb.h"

#include "mac/platform/transcript.h"
#include "sim/link.h"
#include "sim/state_file.h"

namespace mac {

UsbBus::UsbBus(Clock& clock, IOKit& iokit, Volumes& volumes, Transcript& transcript)
    : clock_(clock), iokit_(iokit), volumes_(volumes), transcript_(transcript) {}

UsbBus::~UsbBus() { disconnect(); }

void UsbBus::connect(sim::Recorder& recorder, UsbOptions options) {
  disconnect();
  options_ = std::move(options);
  link_ = std::make_unique<sim::MemoryLink>(recorder, [this] { return clock_.nowMs(); });
  cable_ = [&recorder](bool plugged) { plugged ? recorder.Plug() : recorder.Unplug(); };
  serial_ = recorder.serial;
  // A recorder attached from the start is there in full when the program starts.
  if (observe().attached) {
    publishDevice();
    publishDrivers();
    if (observe().volumeMounted) mountVolume();
  }
  schedulePoll();
}

void UsbBus::connect(const std::string& stateFile, UsbOptions options) {
  disconnect();
  options_ = std::move(options);
  link_ = std::make_unique<sim::StoreLink>(stateFile);
  cable_ = [stateFile](bool plugged) {
    std::string error;
    sim::RecorderStore(stateFile).Update(
        [plugged](sim::Recorder& r) {
          plugged ? r.Plug() : r.Unplug();
          return true;
        },
        error);
  };
  sim::Recorder recorder;
  std::string error;
  if (sim::RecorderStore(stateFile).Read(recorder, error)) serial_ = recorder.serial;
  if (observe().attached) {
    publishDevice();
    publishDrivers();
    if (observe().volumeMounted) mountVolume();
  }
  schedulePoll();
}

void UsbBus::disconnect() {
  if (poll_) clock_.cancel(poll_);
  poll_ = 0;
  withdraw();
  std::lock_guard lock(mutex_);
  link_.reset();
  cable_ = nullptr;
  serial_.reset();
}

void UsbBus::plug() {
  transcript_.add("recorder plugged in");
  std::lock_guard lock(mutex_);
  if (cable_) cable_(true);
}

void UsbBus::unplug() {
  transcript_.add("recorder unplugged");
  std::lock_guard lock(mutex_);
  if (cable_) cable_(false);
}

void UsbBus::setVolumeBusy(int count) {
  volumeBusy_ = count;
  if (volumeMounted_) volumes_.setBusy(volumePath(), count);
}

UsbBus::Observed UsbBus::observe() {
  std::lock_guard lock(mutex_);
  if (!link_) return {};
  const bool attached = link_->Attached();
  return {attached, attached && link_->VolumeMounted()};
}

void UsbBus::schedulePoll() {
  poll_ = clock_.scheduleAfter(Milliseconds(std::max<uint32_t>(options_.pollMs, 1)), [this] {
    poll_ = 0;
    look();
    schedulePoll();
  });
}

void UsbBus::look() {
  const Observed now = observe();
  if (!now.attached) {
    if (device_) {
      transcript_.add("recorder gone from USB");
      withdraw();
    }
    return;
  }
  if (!device_) {
    publishDevice();
    stage_ = clock_.scheduleAfter(Milliseconds(options_.driversAfterMs), [this] {
      publishDrivers();
      const uint32_t rest = options_.volumeAfterMs > options_.driversAfterMs ? options_.volumeAfterMs - options_.driversAfterMs : 0;
      stage_ = clock_.scheduleAfter(Milliseconds(rest), [this] { stage_ = 0; });
    });
    return;
  }
  // The program ejected the volume: it stays away while the recorder stays.
  if (volumeMounted_ && !volumes_.find(volumePath())) {
    volumeMounted_ = false;
    ejectedWhileAttached_ = true;
  }
  // The recorder gave up its volume itself (it is preparing an update).
  if (volumeMounted_ && !now.volumeMounted) {
    volumes_.unmount(volumePath());
    volumeMounted_ = false;
  }
  if (!volumeMounted_ && now.volumeMounted && stage_ == 0 && driversPublished_ && !ejectedWhileAttached_) mountVolume();
}

std::string UsbBus::deviceClass() const { return options_.hostUsbStack ? "IOUSBHostDevice" : "IOUSBDevice"; }

void UsbBus::publishDevice() {
  IOKit::EntryShape device{options_.productName, deviceClass(), {}, nullptr, {}};
  device.properties = {
      {"idVendor", int64_t{options_.vendorId}},
      {"idProduct", int64_t{options_.productId}},
      {"locationID", int64_t{options_.locationId}},
      {"USB Vendor Name", std::string("KESTREL")},
      {"USB Product Name", options_.productName},
      {"bDeviceClass", int64_t{0}},
  };
  if (serial_) device.properties.emplace("USB Serial Number", std::to_string(*serial_));
  device_ = iokit_.publish(0, device);
  transcript_.add("recorder on USB");
}

void UsbBus::publishDrivers() {
  if (!device_ || driversPublished_) return;
  const bool host = options_.hostUsbStack;
  // Each level of the storage stack is the first child of the one above.
  IOKit::EntryShape partition{options_.volumeName, "IOMedia", {{"BSD Name", options_.bsdDisk + "s1"}, {"Whole", int64_t{0}}}, nullptr, {}};
  IOKit::EntryShape scheme{"IOFDiskPartitionScheme", "IOFDiskPartitionScheme", {}, nullptr, {partition}};
  IOKit::EntryShape media{options_.mediaName, "IOMedia",
                         {{"BSD Name", options_.bsdDisk}, {"Whole", int64_t{1}}, {"Removable", int64_t{1}}}, nullptr, {scheme}};
  IOKit::EntryShape storage{"IOBlockStorageDriver", "IOBlockStorageDriver", {}, nullptr, {media}};
  IOKit::EntryShape services{"IOBlockStorageServices", "IOBlockStorageServices", {}, nullptr, {storage}};
  IOKit::EntryShape peripheral{"IOSCSIPeripheralDeviceType00", "IOSCSIPeripheralDeviceType00", {}, nullptr, {services}};
  IOKit::EntryShape nub{"IOSCSILogicalUnitNub", "IOSCSILogicalUnitNub", {}, nullptr, {peripheral}};
  const std::string driverClass = host ? "IOUSBMassStorageDriver" : "IOUSBMassStorageClass";
  IOKit::EntryShape driver{driverClass, driverClass, {}, nullptr, {nub}};
  if (options_.driverLoaded) {
    driver.children.push_back(IOKit::EntryShape{"com_kestrel_DSSBlockCommandsDevice", "com_kestrel_DSSBlockCommandsDevice",
                                               {{"IOUserClientClass", std::string("com_kestrel_DSSBlockCommandsUserClient")}},
                                               this,
                                               {}});
  }
  const std::string interfaceClass = host ? "IOUSBHostInterface" : "IOUSBInterface";
  IOKit::EntryShape interface{interfaceClass,
                             interfaceClass,
                             {{"bInterfaceClass", int64_t{8}},
                              {"bInterfaceSubClass", int64_t{6}},
                              {"bInterfaceProtocol", int64_t{0x50}},
                              {"bInterfaceNumber", int64_t{0}}},
                             nullptr,
                             {driver}};
  iokit_.publish(device_, interface);
  driversPublished_ = true;
}

void UsbBus::mountVolume() {
  volumes_.mount(options_.bsdDisk + "s1", volumePath());
  volumeMounted_ = true;
  if (volumeBusy_ != 0) volumes_.setBusy(volumePath(), volumeBusy_);
}

void UsbBus::withdraw() {
  if (stage_) clock_.cancel(stage_);
  stage_ = 0;
  if (device_) iokit_.terminate(device_);
  device_ = 0;
  driversPublished_ = false;
  if (volumeMounted_) volumes_.unmount(volumePath());
  volumeMounted_ = false;
  ejectedWhileAttached_ = false;
}

IOKit::EntryId UsbBus::attachDevice(const std::string& name, uint16_t vendorId, uint16_t productId, uint32_t locationId) {
  IOKit::EntryShape device{name, deviceClass(), {}, nullptr, {}};
  device.properties = {{"idVendor", int64_t{vendorId}}, {"idProduct", int64_t{productId}}, {"locationID", int64_t{locationId}}};
  transcript_.add("USB device \"" + name + "\" plugged in");
  return iokit_.publish(0, device);
}

void UsbBus::detachDevice(IOKit::EntryId device) {
  transcript_.add("USB device unplugged");
  iokit_.terminate(device);
}

UserClientTarget::Outcome UsbBus::execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut,
                                          std::span<uint8_t> dataIn) {
  std::lock_guard lock(mutex_);
  if (!link_) return Outcome::NoDevice;
  switch (link_->Execute(cdb, dataOut, dataIn).status) {
    case sim::Status::Good: return Outcome::Good;
    case sim::Status::CheckCondition: return Outcome::CheckCondition;
    case sim::Status::TimedOut: return Outcome::TimedOut;
    case sim::Status::NoDevice: return Outcome::NoDevice;
  }
  return Outcome::NoDevice;
}

void UsbBus::released() {
  std::lock_guard lock(mutex_);
  if (link_) link_->Released();
}

}  // namespace mac
