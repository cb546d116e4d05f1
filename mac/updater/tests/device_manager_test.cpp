#include "mac/updater/device_manager.h"

#include <gtest/gtest.h>

#include "mac/updater/tests/reflash_fixture.h"

namespace {

struct Calls : FwUpDeviceManagerDelegate {
  void deviceAdded(FwUpDeviceManager&) override { ++added; }
  void deviceRemoved(FwUpDeviceManager&) override { ++removed; }
  void firmwareWillUpdate(FwUpDeviceManager&) override { ++willUpdate; }
  int added = 0, removed = 0, willUpdate = 0;
};

// The configuration loaded and the manager made, as the launch does it, without the pages.
class DeviceManager : public testing::Test {
 protected:
  explicit DeviceManager(ReflashOptions o = {}) : m(o) {}
  ~DeviceManager() override {
    FwUpDeviceManager::releaseObject();
    FwUpIniFileManager::releaseObject();
  }
  FwUpDeviceManager& Make() {
    EXPECT_TRUE(FwUpIniFileManager::iniFileManagerObject(m.resources() + "/FwUpDate.INI"));
    FwUpDeviceManager& dm = FwUpDeviceManager::getObject();
    dm.setDelegate(&calls);
    dm.setReflashDeviceNotifyOnOff(true);
    return dm;
  }
  uint64_t Now() { return m.mac().clock().nowMs(); }
  // Runs the loop until the moment `ms` of the Mac's time.
  void RunTo(uint64_t ms) { m.user().runFor(mac::Milliseconds(ms - Now())); }

  ReflashMac m;
  Calls calls;
};

class DeviceManagerWithoutRecorder : public DeviceManager {
 protected:
  DeviceManagerWithoutRecorder() : DeviceManager(Options()) {}
  static ReflashOptions Options() {
    ReflashOptions o;
    o.connectRecorder = false;
    o.systemVersion = "10.11.6";  // the class names the bus gives devices when no recorder was ever on it
    return o;
  }
};

TEST_F(DeviceManager, HoldsTheRecorderWithItsIdentity) {
  m.recorder.main.version = "1.00";
  FwUpDeviceManager& dm = Make();
  ASSERT_TRUE(dm.isReflashDevice());
  EXPECT_EQ(dm.productID(), 0x0120u);
  EXPECT_EQ(dm.serialID(), 51000001u);
  EXPECT_EQ(dm.locationID(), 0x14100000u);
  EXPECT_EQ(dm.getModelName(), "ZT-5100 ");
  _FIRM_VERSION v;
  dm.firmwareVersion(&v);
  EXPECT_EQ(v, (_FIRM_VERSION{1, 0, 0}));
  EXPECT_EQ(dm.volumePaths(), std::vector<std::string>{"/Volumes/ZT-5100"});
  EXPECT_FALSE(dm.isInvalidDevice());
  m.recorder.deviceId = 41;
  EXPECT_TRUE(dm.isInvalidDevice());
  FwUpDeviceManager::releaseObject();
  EXPECT_EQ(m.mac().iokit().openConnections(), 0u);
  EXPECT_EQ(m.mac().iokit().notificationPorts(), 0u);
  EXPECT_EQ(m.mac().iokit().objectsHeld(), 0u) << "every name handed out was released";
}

TEST_F(DeviceManager, WithoutTheDriversServiceNothingIsHeld) {
  m.mac().usb().disconnect();
  mac::UsbOptions options = m.mac().usbOptions();
  options.driverLoaded = false;
  m.mac().usb().connect(m.recorder, options);
  EXPECT_FALSE(Make().isReflashDevice());
}

TEST_F(DeviceManagerWithoutRecorder, TwoArrivalsOneSecondApartGiveOneSearchTwoSecondsAfterTheFirst) {
  FwUpDeviceManager& dm = Make();
  EXPECT_EQ(dm.searches(), 1) << "the search of the creation";
  const uint64_t start = Now();
  m.mac().usb().attachDevice("Keyboard", 0x05AC, 0x0250, 0x14200000);
  RunTo(start + 1000);
  m.mac().usb().attachDevice("Mouse", 0x05AC, 0x0300, 0x14300000);
  RunTo(start + 1999);
  EXPECT_EQ(dm.searches(), 1);
  RunTo(start + 2000);
  EXPECT_EQ(dm.searches(), 2);
  RunTo(start + 6000);
  EXPECT_EQ(dm.searches(), 2);
}

TEST_F(DeviceManagerWithoutRecorder, AMountOneSecondAfterAnArrivalRestartsTheWait) {
  FwUpDeviceManager& dm = Make();
  const uint64_t start = Now();
  m.mac().usb().attachDevice("Card reader", 0x05AC, 0x8406, 0x14200000);
  RunTo(start + 1000);
  m.mac().volumes().mount("disk5s1", "/Volumes/CARD");
  RunTo(start + 2999);
  EXPECT_EQ(dm.searches(), 1);
  EXPECT_FALSE(dm.hasArrivalTimer());
  EXPECT_TRUE(dm.hasMountTimer());
  RunTo(start + 3000);
  EXPECT_EQ(dm.searches(), 2);
  EXPECT_FALSE(dm.hasMountTimer());
}

TEST_F(DeviceManagerWithoutRecorder, ARecorderPluggedInIsTakenUpOnceItHasSettled) {
  FwUpDeviceManager& dm = Make();
  m.mac().connectRecorder(m.recorder);  // attached from the start: there in full, no arrival
  m.mac().usb().unplug();
  RunTo(Now() + 500);
  m.mac().usb().plug();
  RunTo(Now() + 5000);
  EXPECT_TRUE(dm.isReflashDevice());
  EXPECT_EQ(calls.added, 1);
}

TEST_F(DeviceManager, RemovalOfAnotherDeviceChangesNothingTheRecordersIsReported) {
  FwUpDeviceManager& dm = Make();
  const auto keyboard = m.mac().usb().attachDevice("Keyboard", 0x05AC, 0x0250, 0x14200000);
  RunTo(Now() + 100);
  m.mac().usb().detachDevice(keyboard);
  RunTo(Now() + 100);
  EXPECT_TRUE(dm.isReflashDevice());
  EXPECT_EQ(calls.removed, 0);
  m.mac().usb().unplug();
  RunTo(Now() + 500);
  EXPECT_FALSE(dm.isReflashDevice());
  EXPECT_EQ(calls.removed, 1);
  EXPECT_EQ(m.mac().iokit().openConnections(), 0u);
}

TEST_F(DeviceManager, EjectionTriesTenTimesHalfASecondApart) {
  struct Case {
    int busy;
    bool ejected;
    uint64_t took;
  };
  const Case cases[] = {{0, true, 1000}, {3, true, 1500 + 1000}, {9, true, 4500 + 1000}, {10, false, 5000}, {-1, false, 5000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.busy);
    FwUpDeviceManager::releaseObject();
    FwUpDeviceManager& dm = Make();
    ASSERT_EQ(dm.volumePaths().size(), 1u);
    m.mac().usb().setVolumeBusy(c.busy);
    const uint64_t start = Now();
    EXPECT_EQ(dm.unmountDeviceAllVolume(), c.ejected);
    EXPECT_EQ(Now() - start, c.took);
    m.mac().usb().setVolumeBusy(0);
    if (c.ejected) {
      m.mac().usb().unplug();  // the volume comes back with the recorder
      RunTo(Now() + 500);
      m.mac().usb().plug();
      RunTo(Now() + 3000);
    }
  }
}

// disk1 is the beginning of disk12's partition names; another disk mounted before the recorder's
// must never be taken for it, or the update would eject it.
TEST_F(DeviceManager, VolumeOfAnotherDiskWhoseNameBeginsTheSameIsNeverTaken) {
  m.mac().usb().disconnect();
  m.mac().volumes().mount("disk12s1", "/Volumes/Backup");
  mac::UsbOptions options = m.mac().usbOptions();
  options.bsdDisk = "disk1";
  m.mac().usb().connect(m.recorder, options);
  EXPECT_EQ(Make().volumePaths(), std::vector<std::string>{"/Volumes/ZT-5100"});
  FwUpDeviceManager::releaseObject();
  m.mac().volumes().unmount("/Volumes/Backup");
  m.mac().volumes().mount("disk12s1", "/Volumes/Backup");  // now after the recorder's
  EXPECT_EQ(Make().volumePaths(), std::vector<std::string>{"/Volumes/ZT-5100"});
}

TEST(IsVolumeOfDisk, TheDiskAndItsPartitionsOnly) {
  const struct {
    const char* device;
    const char* disk;
    bool belongs;
  } cases[] = {
      {"disk1", "disk1", true},     {"disk1s1", "disk1", true},   {"disk1s12", "disk1", true},
      {"disk12s1", "disk1", false}, {"disk12", "disk1", false},   {"disk1s", "disk1", false},
      {"disk1sx", "disk1", false},  {"disk", "disk1", false},     {"disk1s1", "", false},
      {"disk2s1", "disk1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsVolumeOfDisk(c.device, c.disk), c.belongs) << c.device << " of " << c.disk;
  }
}

TEST_F(DeviceManager, ARecorderAskingForStorageModeIsSwitchedAndTakenUpWhenItReturns) {
  m.recorder.modeByte = 3;
  FwUpDeviceManager& dm = Make();
  EXPECT_FALSE(dm.isReflashDevice()) << "the connection is let go before the switch";
  EXPECT_EQ(m.recorder.modeByte, 0);
  RunTo(Now() + 6000);
  EXPECT_TRUE(dm.isReflashDevice());
  EXPECT_EQ(calls.added, 1);
}

TEST(SendStorageCommand, WithoutAConnection) {
  mac::IOKit io;
  EXPECT_EQ(sendStorageCommand(io, 0, 0xE0, 0x00, {}, 8), 4);
}

TEST(RegistryNames, ClassesAndMedia) {
  EXPECT_TRUE(IsUSBMassStorageClassName("IOUSBMassStorageClass"));
  EXPECT_TRUE(IsUSBMassStorageClassName("IOUSBMassStorageDriver"));
  EXPECT_FALSE(IsUSBMassStorageClassName("IOUSBMassStorage"));
  EXPECT_TRUE(IsUSBInterfaceClassName("IOUSBHostInterface"));
  EXPECT_FALSE(IsUSBInterfaceClassName("IOUSBHostDevice"));
  EXPECT_TRUE(IsRecorderMediaName("KESTREL DVR Media"));
  EXPECT_TRUE(IsRecorderMediaName("KESTREL PCM RECORDER Media"));
  EXPECT_TRUE(IsRecorderMediaName("KESTREL DVR2 anything"));
  EXPECT_FALSE(IsRecorderMediaName("KESTREL PCM RECORDER"));
  EXPECT_FALSE(IsRecorderMediaName("kestrel dvr Media"));
}

}  // namespace
