#include "mac/platform/iokit.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/commands.h"
#include "mac/platform/platform.h"
#include "sim/recorder.h"

namespace mac {
namespace {

// Looks for the recorder's block-commands service the way the updater's device manager walks the
// registry: the USB device, its mass-storage interface, down the first children to the mass-storage
// driver, and down from each of its children to the service.
class RecorderWalk {
 public:
  explicit RecorderWalk(IOKit& iokit) : io_(iokit) {}

  io_service_t blockCommandsBelow(io_service_t device) {
    io_iterator_t interfaces = 0;
    if (io_.IORegistryEntryGetChildIterator(device, kIOServicePlane, &interfaces) != KERN_SUCCESS) return 0;
    ScopedIOObject interfacesOwner(io_, interfaces);
    while (ScopedIOObject interface{io_, io_.IOIteratorNext(interfaces)}) {
      const auto klass = io_.IORegistryEntryCreateCFProperty(interface.get(), "bInterfaceClass");
      if (!klass || *klass != PropertyValue(int64_t{8})) continue;
      ScopedIOObject driver = descend(interface.get(), [](const std::string& name) {
        return name == "IOUSBMassStorageClass" || name == "IOUSBMassStorageDriver";
      });
      if (!driver) continue;
      io_iterator_t children = 0;
      io_.IORegistryEntryGetChildIterator(driver.get(), kIOServicePlane, &children);
      ScopedIOObject childrenOwner(io_, children);
      while (ScopedIOObject child{io_, io_.IOIteratorNext(children)}) {
        ScopedIOObject service =
            descendFrom(std::move(child), [](const std::string& name) { return name == "com_kestrel_DSSBlockCommandsDevice"; });
        if (service) return service.release();
      }
    }
    return 0;
  }

 private:
  template <typename Want>
  ScopedIOObject descend(io_registry_entry_t from, Want want) {
    io_registry_entry_t first = 0;
    if (io_.IORegistryEntryGetChildEntry(from, kIOServicePlane, &first) != KERN_SUCCESS) return {};
    return descendFrom(ScopedIOObject(io_, first), want);
  }
  template <typename Want>
  ScopedIOObject descendFrom(ScopedIOObject entry, Want want) {
    while (entry) {
      std::string name;
      io_.IORegistryEntryGetName(entry.get(), &name);
      if (want(name)) return entry;
      io_registry_entry_t next = 0;
      if (io_.IORegistryEntryGetChildEntry(entry.get(), kIOServicePlane, &next) != KERN_SUCCESS) return {};
      entry = ScopedIOObject(io_, next);
    }
    return {};
  }
  IOKit& io_;
};

class PlatformIOKit : public testing::Test {
 protected:
  PlatformIOKit() { mac.connectRecorder(recorder); }

  // The USB devices of the recorder's vendor.
  std::vector<io_service_t> RecorderDevices(std::string_view deviceClass = "IOUSBDevice") {
    MatchingDictionary matching = IOServiceMatching(deviceClass);
    matching.properties.emplace("idVendor", int64_t{0x0C2F});
    io_iterator_t it = 0;
    EXPECT_EQ(io.IOServiceGetMatchingServices(IOKit::kMasterPort, matching, &it), KERN_SUCCESS);
    std::vector<io_service_t> found;
    while (io_service_t s = io.IOIteratorNext(it)) found.push_back(s);
    io.IOObjectRelease(it);
    return found;
  }

  io_connect_t Open() {
    const auto devices = RecorderDevices();
    EXPECT_EQ(devices.size(), 1u);
    if (devices.size() != 1) return 0;
    const io_service_t service = RecorderWalk(io).blockCommandsBelow(devices[0]);
    io.IOObjectRelease(devices[0]);
    io_connect_t connect = 0;
    EXPECT_EQ(io.IOServiceOpen(service, io.mach_task_self(), 0, &connect), kIOReturnSuccess);
    io.IOObjectRelease(service);
    return connect;
  }

  // One command as the updater sends it: the request words, with the buffers mapped.
  IOReturn Send(io_connect_t connect, uint8_t opcode, uint8_t subcode, std::vector<uint8_t>& buffer) {
    const ::mac::Command command = BuildCommand(opcode, subcode, static_cast<uint32_t>(buffer.size()), CommandConfig{});
    std::vector<uint8_t> sense(18);
    auto data = io.taskMemory().map(buffer);
    auto senseRegion = io.taskMemory().map(sense);
    const auto words = RequestWords(command, static_cast<uint32_t>(buffer.size()), data.address(), senseRegion.address());
    uint32_t status = 0;
    size_t statusSize = sizeof status;
    return io.IOConnectCallStructMethod(connect, kDriverSelector, words.data(), sizeof words, &status, &statusSize);
  }

  sim::Recorder recorder;
  PlatformOptions options{};
  Platform mac{options};
  IOKit& io = mac.iokit();
};

TEST_F(PlatformIOKit, MatchingFindsTheRecorderAndTheDriversServiceBelowIt) {
  recorder.main.version = "1.02";
  recorder.sub.version = "2.00";
  const io_connect_t connect = Open();
  ASSERT_NE(connect, 0u);

  std::vector<uint8_t> versions(18);
  EXPECT_EQ(Send(connect, 0xE0, 0x02, versions), kIOReturnSuccess);
  const auto texts = DecodeFirmwareVersions(versions);
  EXPECT_EQ(texts.main.substr(0, 4), "1.02");
  EXPECT_EQ(texts.sub.substr(0, 4), "2.00");
  std::vector<uint8_t> model(8);
  EXPECT_EQ(Send(connect, 0xE0, 0x00, model), kIOReturnSuccess);
  EXPECT_EQ(FixedText(model, 0, 8), "ZT-5100 ");
  std::vector<uint8_t> serial(64);
  EXPECT_EQ(Send(connect, 0xE0, 0x06, serial), kIOReturnSuccess);
  EXPECT_EQ(DecodeSerialId(serial), recorder.serial);
  std::vector<uint8_t> none;
  EXPECT_EQ(Send(connect, 0xE4, 0x06, none), kIOReturnSuccess);

  EXPECT_EQ(io.IOServiceClose(connect), kIOReturnSuccess);
  EXPECT_EQ(io.objectsHeld(), 0u) << "the walk released every object it was given";
  EXPECT_EQ(io.taskMemory().regionCount(), 0u);
}

TEST_F(PlatformIOKit, TheUserClientTakesOnlyTheDriversRequest) {
  const io_connect_t connect = Open();
  ASSERT_NE(connect, 0u);
  std::vector<uint8_t> reply(18);
  auto data = io.taskMemory().map(reply);
  const auto good = RequestWords(BuildCommand(0xE0, 0x02, 18, {}), 18, data.address(), 0);

  struct Case {
    const char* name;
    uint32_t selector;
    size_t inputSize;
    size_t outputSize;
    std::function<void(std::array<uint32_t, 10>&)> change;
    IOReturn expected;
  };
  const Case cases[] = {
      {"the request", 2, 40, 4, nullptr, kIOReturnSuccess},
      {"another selector", 1, 40, 4, nullptr, kIOReturnUnsupported},
      {"a short request", 2, 36, 4, nullptr, kIOReturnBadArgument},
      {"no room for the status", 2, 40, 2, nullptr, kIOReturnBadArgument},
      {"an unknown direction", 2, 40, 4, [](auto& w) { w[0] = 1; }, kIOReturnBadArgument},
      {"a longer block", 2, 40, 4, [](auto& w) { w[1] = 16; }, kIOReturnBadArgument},
      {"more than the buffer holds", 2, 40, 4, [](auto& w) { w[6] = 19; }, kIOReturnBadArgument},
      {"an address nobody mapped", 2, 40, 4, [](auto& w) { w[7] += 0x100000; }, kIOReturnBadArgument},
      {"the recorder refuses", 2, 40, 4, [](auto& w) { w[2] = 0xE5; }, kIOReturnIOError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto words = good;
    if (c.change) c.change(words);
    uint32_t status = 0;
    size_t statusSize = c.outputSize;
    EXPECT_EQ(io.IOConnectCallStructMethod(connect, c.selector, words.data(), c.inputSize, &status, &statusSize), c.expected);
  }
  io.IOServiceClose(connect);
  uint32_t status = 0;
  size_t statusSize = 4;
  EXPECT_EQ(io.IOConnectCallStructMethod(connect, 2, good.data(), 40, &status, &statusSize), kIOReturnBadArgument)
      << "a closed connection";
}

// Counts the callbacks of one notification and drains its iterator, as the programs must.
struct Watch {
  explicit Watch(IOKit& iokit) : io(&iokit) {}
  IOKit* io;
  int calls = 0;
  std::vector<std::string> names;
  bool drain = true;
  static void Callback(void* refCon, io_iterator_t iterator) {
    auto* self = static_cast<Watch*>(refCon);
    ++self->calls;
    if (!self->drain) return;
    while (io_object_t s = self->io->IOIteratorNext(iterator)) {
      std::string name;
      self->io->IORegistryEntryGetName(s, &name);
      self->names.push_back(name);
      self->io->IOObjectRelease(s);
    }
  }
};

TEST_F(PlatformIOKit, ArrivalAndRemovalOfTheRecorderAreNotifiedThroughTheRunLoop) {
  IONotificationPortRef port = io.IONotificationPortCreate(IOKit::kMasterPort);
  mac.runLoop().addSource(*io.IONotificationPortGetRunLoopSource(port), RunLoopMode::Default);
  Watch added(io), removed(io);
  io_iterator_t addedIt = 0, removedIt = 0;
  ASSERT_EQ(io.IOServiceAddMatchingNotification(port, kIOFirstMatchNotification, IOServiceMatching("IOUSBDevice"),
                                                Watch::Callback, &added, &addedIt),
            KERN_SUCCESS);
  ASSERT_EQ(io.IOServiceAddMatchingNotification(port, kIOTerminatedNotification, IOServiceMatching("IOUSBDevice"),
                                                Watch::Callback, &removed, &removedIt),
            KERN_SUCCESS);
  // Armed by draining: the recorder present from the start is in the first iterator.
  Watch::Callback(&added, addedIt);
  Watch::Callback(&removed, removedIt);
  EXPECT_EQ(added.names, std::vector<std::string>{"ZT-5100"});
  added = Watch(io);
  removed = Watch(io);

  Simulation& user = mac.simulation();
  user.unplug();
  user.runFor(Milliseconds(500));
  EXPECT_EQ(removed.calls, 1);
  EXPECT_EQ(removed.names, std::vector<std::string>{"ZT-5100"});
  EXPECT_TRUE(RecorderDevices().empty());

  user.plug();
  user.runFor(Milliseconds(150));
  EXPECT_EQ(added.calls, 1) << "the device is announced as soon as it is seen";
  const auto devices = RecorderDevices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(RecorderWalk(io).blockCommandsBelow(devices[0]), 0u) << "its drivers are not there yet";
  io.IOObjectRelease(devices[0]);
  user.runFor(Milliseconds(1000));
  const io_connect_t connect = Open();
  EXPECT_NE(connect, 0u);
  io.IOServiceClose(connect);

  // During a modal panel the default-mode source waits.
  user.unplug();
  user.wait(Milliseconds(1000));
  user.answerAlert(1);
  mac.application().runAlertPanel("", "Busy");
  EXPECT_EQ(removed.calls, 1);
  user.runFor(Milliseconds(0));
  EXPECT_EQ(removed.calls, 2);

  io.IOObjectRelease(addedIt);
  io.IOObjectRelease(removedIt);
  io.IONotificationPortDestroy(port);
  EXPECT_EQ(io.objectsHeld(), 0u);
  EXPECT_EQ(io.notificationPorts(), 0u);
}

TEST_F(PlatformIOKit, ANotificationWhoseIteratorIsNotDrainedIsNotDeliveredAgain) {
  IONotificationPortRef port = io.IONotificationPortCreate(IOKit::kMasterPort);
  mac.runLoop().addSource(*io.IONotificationPortGetRunLoopSource(port), RunLoopMode::Default);
  Watch removed(io);
  removed.drain = false;
  io_iterator_t it = 0;
  io.IOServiceAddMatchingNotification(port, kIOTerminatedNotification, IOServiceMatching("IOUSBDevice"), Watch::Callback,
                                      &removed, &it);
  EXPECT_EQ(io.IOIteratorNext(it), 0u);  // arms it
  const auto other = mac.usb().attachDevice("Keyboard", 0x05AC, 0x0250, 0x14200000);
  for (int i = 0; i < 2; ++i) {
    mac.simulation().unplug();
    mac.simulation().runFor(Milliseconds(500));
    mac.simulation().plug();
    mac.simulation().runFor(Milliseconds(500));
  }
  mac.usb().detachDevice(other);
  mac.simulation().runFor(Milliseconds(0));
  EXPECT_EQ(removed.calls, 1);
  // Everything removed meanwhile waits in the iterator, the keyboard too.
  std::vector<int64_t> locations;
  while (io_object_t s = io.IOIteratorNext(it)) {
    locations.push_back(std::get<int64_t>(*io.IORegistryEntryCreateCFProperty(s, "locationID")));
    io.IOObjectRelease(s);
  }
  EXPECT_EQ(locations, (std::vector<int64_t>{0x14100000, 0x14100000, 0x14200000}));
  io.IOObjectRelease(it);
  io.IONotificationPortDestroy(port);
}

TEST_F(PlatformIOKit, AfterTheModeSwitchTheRecorderLeavesAndComesBackAsANewDevice) {
  recorder.modeByte = 3;
  recorder.modeSwitchDelayMs = 1500;
  IONotificationPortRef port = io.IONotificationPortCreate(IOKit::kMasterPort);
  mac.runLoop().addSource(*io.IONotificationPortGetRunLoopSource(port), RunLoopMode::Default);
  Watch added(io), removed(io);
  io_iterator_t addedIt = 0, removedIt = 0;
  io.IOServiceAddMatchingNotification(port, kIOFirstMatchNotification, IOServiceMatching("IOUSBDevice"), Watch::Callback,
                                      &added, &addedIt);
  io.IOServiceAddMatchingNotification(port, kIOTerminatedNotification, IOServiceMatching("IOUSBDevice"), Watch::Callback,
                                      &removed, &removedIt);
  Watch::Callback(&added, addedIt);
  Watch::Callback(&removed, removedIt);

  const io_connect_t connect = Open();
  std::vector<uint8_t> none;
  EXPECT_EQ(Send(connect, 0xE2, 0x02, none), kIOReturnSuccess);
  std::vector<uint8_t> model(8);
  EXPECT_EQ(Send(connect, 0xE0, 0x00, model), kIOReturnNoDevice) << "the recorder has gone";
  io.IOServiceClose(connect);
  mac.simulation().runFor(Milliseconds(1000));
  EXPECT_EQ(removed.calls, 2);  // the drain above, and the removal
  EXPECT_EQ(added.calls, 1);
  mac.simulation().runFor(Milliseconds(1000));
  EXPECT_EQ(added.calls, 2) << "back in storage mode";
  const io_connect_t again = Open();
  EXPECT_EQ(Send(again, 0xE0, 0x00, model), kIOReturnSuccess);
  io.IOServiceClose(again);

  io.IOObjectRelease(addedIt);
  io.IOObjectRelease(removedIt);
  io.IONotificationPortDestroy(port);
  EXPECT_EQ(io.objectsHeld(), 0u);
}

TEST(PlatformIOKitClasses, FollowTheUsbStackOfTheSystem) {
  struct Case {
    const char* version;
    const char* device;
    const char* driver;
  };
  const Case cases[] = {{"10.6.8", "IOUSBDevice", "IOUSBMassStorageClass"},
                        {"10.10.5", "IOUSBDevice", "IOUSBMassStorageClass"},
                        {"10.11.0", "IOUSBHostDevice", "IOUSBMassStorageDriver"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    sim::Recorder recorder;
    PlatformOptions options;
    options.systemVersion = c.version;
    Platform mac(options);
    mac.connectRecorder(recorder);
    io_iterator_t it = 0;
    mac.iokit().IOServiceGetMatchingServices(0, IOServiceMatching(c.device), &it);
    ScopedIOObject device(mac.iokit(), mac.iokit().IOIteratorNext(it));
    mac.iokit().IOObjectRelease(it);
    ASSERT_TRUE(device);
    io_iterator_t drivers = 0;
    mac.iokit().IOServiceGetMatchingServices(0, IOServiceMatching(c.driver), &drivers);
    ScopedIOObject driver(mac.iokit(), mac.iokit().IOIteratorNext(drivers));
    mac.iokit().IOObjectRelease(drivers);
    EXPECT_TRUE(driver);
  }
}

TEST(PlatformTaskMemory, MapsBuffersAtDistinctAddressesWhileTheirRegionsLive) {
  TaskMemory memory;
  std::vector<uint8_t> a(100), b(5000);
  TaskMemory::Region ra = memory.map(a);
  uint32_t addressB = 0;
  {
    TaskMemory::Region rb = memory.map(b);
    addressB = rb.address();
    EXPECT_NE(ra.address(), 0u);
    EXPECT_GE(addressB, ra.address() + 100);
    EXPECT_EQ(memory.resolve(addressB + 4999, 1)->data(), &b[4999]);
    EXPECT_FALSE(memory.resolve(addressB + 4999, 2)) << "past the buffer's end";
    EXPECT_FALSE(memory.resolve(ra.address() + 100, 1)) << "between buffers";
  }
  EXPECT_FALSE(memory.resolve(addressB, 1)) << "unmapped with its region";
  EXPECT_EQ(memory.map(std::span<uint8_t>()).address(), 0u);
  TaskMemory::Region moved = std::move(ra);
  EXPECT_EQ(memory.regionCount(), 1u);
}

}  // namespace
}  // namespace mac
