#pragma once
// The simulated Mac's USB bus with the simulated recorder on it. While the recorder is attached the
// registry holds, as the system builds it step by step:
//
//   <USB device>  "ZT-5100"  (idVendor 3119, idProduct, locationID, USB Serial Number ...)
//     <USB interface>        (bInterfaceClass 8: mass storage)
//       <mass-storage driver>
//         IOSCSILogicalUnitNub - IOSCSIPeripheralDeviceType00 - IOBlockStorageServices -
//           IOBlockStorageDriver - "KESTREL DVR Media" (BSD Name disk2) - its partition (disk2s1)
//         com_kestrel_DSSBlockCommandsDevice  (the recorder driver's service; the user client)
//
// with the class names of the system's USB stack (IOUSBHostDevice, IOUSBHostInterface and
// IOUSBMassStorageDriver from 10.11 on; IOUSBDevice, IOUSBInterface and IOUSBMassStorageClass before),
// and the recorder's volume mounted at /Volumes/<name>. The device comes first, its interface and
// drivers a moment later, the volume later still, as on a real Mac.
//
// The recorder itself is the portable model of sim/: in this process (its time is the simulation's
// clock) or in a state file that other processes share. The bus looks at it every `pollMs` of
// simulated time and follows it: when it leaves (unplugged, restarting after a mode switch or a
// finished update) everything above is terminated and the volume goes; when it comes back it is
// published anew. Commands through the user client reach it as the raw command blocks.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "mac/platform/clock.h"
#include "mac/platform/files.h"
#include "mac/platform/iokit.h"

namespace sim {
class RecorderLink;
struct Recorder;
}  // namespace sim

namespace mac {

class Transcript;

struct UsbOptions {
  uint16_t vendorId = 0x0C2F;
  uint16_t productId = 0x0120;
  uint32_t locationId = 0x14100000;
  std::string productName = "ZT-5100";
  std::string mediaName = "KESTREL DVR Media";
  std::string bsdDisk = "disk2";
  std::string volumeName = "ZT-5100";
  bool hostUsbStack = true;   // the class names of 10.11 and later
  bool driverLoaded = true;   // the recorder driver publishes its service
  uint32_t pollMs = 100;
  uint32_t driversAfterMs = 300;  // interface and drivers after the device
  uint32_t volumeAfterMs = 800;   // the volume after the device
};

class UsbBus : public UserClientTarget {
 public:
  UsbBus(Clock& clock, IOKit& iokit, Volumes& volumes, Transcript& transcript);
  UsbBus(const UsbBus&) = delete;
  UsbBus& operator=(const UsbBus&) = delete;
  ~UsbBus() override;

  // The recorder on the bus: one in this process, or the one in a state file.
  void connect(sim::Recorder& recorder, UsbOptions options = {});
  void connect(const std::string& stateFile, UsbOptions options = {});
  void disconnect();

  // The cable. The bus notices at its next look.
  void plug();
  void unplug();
  // The next `count` ejections of the recorder's volume fail (negative: all), also after it comes
  // back.
  void setVolumeBusy(int count);
  // Takes effect when the recorder is next published.
  void setDriverLoaded(bool loaded) { options_.driverLoaded = loaded; }

  bool recorderPublished() const { return device_ != 0; }
  std::string volumePath() const { return "/Volumes/" + options_.volumeName; }
  const UsbOptions& options() const { return options_; }

  // Some other USB device (no recorder behind it); its entry id, for detach.
  IOKit::EntryId attachDevice(const std::string& name, uint16_t vendorId, uint16_t productId, uint32_t locationId);
  void detachDevice(IOKit::EntryId device);

  // UserClientTarget.
  Outcome execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn) override;
  void released() override;

 private:
  struct Observed {
    bool attached = false;
    bool volumeMounted = false;
  };
  Observed observe();
  void look();
  void schedulePoll();
  void publishDevice();
  void publishDrivers();
  void mountVolume();
  void withdraw();
  std::string deviceClass() const;

  Clock& clock_;
  IOKit& iokit_;
  Volumes& volumes_;
  Transcript& transcript_;
  UsbOptions options_;

  std::mutex mutex_;  // the link is also used from the update's worker thread
  std::unique_ptr<sim::RecorderLink> link_;
  std::function<void(bool plugged)> cable_;
  std::optional<uint64_t> serial_;

  Clock::EventId poll_ = 0;
  Clock::EventId stage_ = 0;
  IOKit::EntryId device_ = 0;
  bool driversPublished_ = false;
  bool volumeMounted_ = false;
  bool ejectedWhileAttached_ = false;
  int volumeBusy_ = 0;
};

}  // namespace mac
