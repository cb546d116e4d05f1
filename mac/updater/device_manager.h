#pragma once
// FwUpDeviceManager: the program's one owner of the recorder. It finds the recorder among the USB
// devices, opens the connection to the block-commands service of the recorder's driver (the data
// port), records the recorder's identity and volumes, ejects the volumes before the recorder is
// switched or written, watches arrivals, removals and mounts, tells its delegate, and runs the
// update and its verification over the shared update sequence.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/update_sequence.h"
#include "mac/platform/platform.h"
#include "mac/shared/versions.h"

class FwUpDeviceManager;
class FwUpProgressSheet;

class FwUpDeviceManagerDelegate {
 public:
  virtual ~FwUpDeviceManagerDelegate() = default;
  virtual void deviceAdded(FwUpDeviceManager&) {}
  virtual void deviceRemoved(FwUpDeviceManager&) {}
  virtual void firmwareWillUpdate(FwUpDeviceManager&) {}
};

// The USB device class of this system's USB stack.
mac::MatchingDictionary GetServiceMatchingDictionary();
bool IsUSBMassStorageClassName(std::string_view name);
bool IsUSBInterfaceClassName(std::string_view name);
// The recorder's whole-disk media entry.
bool IsRecorderMediaName(std::string_view name);
// Whether a volume's device name ("disk1s1") belongs to the disk named `disk` ("disk1"): the disk
// itself or one of its partitions, never another disk whose name merely begins the same ("disk12s1").
bool IsVolumeOfDisk(std::string_view device, std::string_view disk);

inline constexpr uint16_t kRecorderVendorId = 0x0C2F;
inline constexpr const char* kBlockCommandsServiceName = "com_kestrel_DSSBlockCommandsDevice";
inline constexpr const char* kNotifyDeviceAdded = "fwUpNotifyDeviceAdded";
inline constexpr const char* kNotifyDeviceRemoved = "fwUpNotifyDeviceRemoved";
inline constexpr const char* kNotifyItemDeviceIterator = "fwUpNotifyItemDeviceIterator";

// One command through the driver's user client: 0 success, 4 without a connection, else the call's
// result. The E4 start address, length and target come from the configuration.
int sendStorageCommand(mac::IOKit& iokit, mac::io_connect_t connection, uint8_t opcode, uint8_t subcode,
                       std::span<uint8_t> buffer, uint32_t length);

class FwUpDeviceManager : private MacUpdateSite {
 public:
  // The shared manager; making it searches for the recorder at once.
  static FwUpDeviceManager& getObject();
  static bool isGlobalObject();
  static void releaseObject();

  FwUpDeviceManager();
  ~FwUpDeviceManager() override;
  FwUpDeviceManager(const FwUpDeviceManager&) = delete;
  FwUpDeviceManager& operator=(const FwUpDeviceManager&) = delete;

  void setDelegate(FwUpDeviceManagerDelegate* delegate) { delegate_ = delegate; }
  bool reflashDeviceNotifyOnOff() const { return notifyOnOff_; }
  void setReflashDeviceNotifyOnOff(bool on) { notifyOnOff_ = on; }

  mac::io_connect_t dataPort() const { return dataPort_; }
  void setDataPort(mac::io_connect_t port) { dataPort_ = port; }
  uint32_t productID() const { return productID_; }
  uint32_t serialID() const { return serialID_; }
  uint32_t locationID() const { return locationID_; }
  bool isReflashDevice() const { return dataPort_ != 0; }
  bool isNecessityChangeMode() const { return isNecessityChangeMode_; }
  void firmwareVersion(_FIRM_VERSION* version) const {
    if (version) *version = firmwareVersion_;
  }
  std::optional<std::string> getModelName() const { return modelName_; }
  const std::vector<std::string>& volumePaths() const { return volumePaths_; }

  bool serchReflashDevice();
  void readyReflashDeviceResource();
  void initStockDeviceResource();
  mac::io_connect_t getSCSIPort(mac::io_service_t device);
  bool stockVolumeInfo(mac::io_service_t device);
  bool stockLocationID(mac::io_service_t device);
  bool stockSerialID(mac::io_connect_t port);
  bool updateVolumeInfo();
  bool unmountDeviceAllVolume();
  void getVolumeFSRefFromIORegistry(mac::io_registry_entry_t entry);
  mac::OSErr getMountStatus(const std::string& bsdName, mac::FSRef* ref);
  std::optional<std::string> getVolumePathFromFSRef(const mac::FSRef* ref);

  bool startDeviceNotify();
  void releaseDeviceNotify();
  bool isExistDeviceFromIterator(mac::io_iterator_t iterator);

  // The commands of identification.
  bool isInvalidDevice();
  bool isInvalidDevice(mac::io_connect_t port);
  bool get_IsNecessityChangeMode(mac::io_connect_t port);
  uint32_t getSerialID(mac::io_connect_t port);
  bool stockModelName(mac::io_connect_t port);
  bool stockFirmwareVersion(mac::io_connect_t port);
  // 0 switched, 1 nothing to do, 2 the volumes could not be ejected.
  int changeDeviceModeToStorage();

  // 0 written, 1 failed, 2 the volumes could not be ejected.
  int runFirmwareUpdate(mac::Window& parent);
  bool verifyFirmwareUpdate(mac::Window& parent);

  // Observers and timer actions (public for the IOKit callbacks).
  void deviceAdded();
  void deviceRemoved(std::optional<mac::io_iterator_t> iterator);
  void didMount();
  void deviceAddedTimerProc();
  void volumeMountTimerProc();

  bool hasArrivalTimer() const { return deviceAddedTimer_ != nullptr; }
  bool hasMountTimer() const { return volumeMountTimer_ != nullptr; }
  int searches() const { return searches_; }

 private:
  // MacUpdateSite.
  bool Connected() override { return dataPort_ != 0; }
  bool PrepareVolumes() override;
  void ShowPhase(uint32_t messageId) override;
  void SetProgress(uint32_t percent) override;
  void CloseSheet() override;
  void RunDetachedAndWait(std::function<void()> task, std::chrono::milliseconds limit) override;

  MacUpdateJob job(std::vector<uint8_t>& image) const;
  void stopWatching();
  void cancelTimers();
  void endWithVolumesBusy();
  void joinFinishing();

  mac::Platform& mac_;
  mac::IOKit& io_;
  FwUpDeviceManagerDelegate* delegate_ = nullptr;
  mac::IONotificationPortRef notificationPortRef_ = nullptr;
  mac::io_iterator_t addedIterator_ = 0;
  mac::io_iterator_t removedIterator_ = 0;
  bool notifyOnOff_ = false;
  std::shared_ptr<mac::Timer> deviceAddedTimer_;
  std::shared_ptr<mac::Timer> volumeMountTimer_;
  mac::io_connect_t dataPort_ = 0;
  uint32_t productID_ = 0;
  uint32_t serialID_ = 0;
  uint32_t locationID_ = 0;
  bool isNecessityChangeMode_ = false;
  _FIRM_VERSION firmwareVersion_;
  std::vector<std::string> volumePaths_;
  std::optional<std::string> modelName_;
  int searches_ = 0;
  bool observingMounts_ = false;

  // The update's own things: the progress sheet and its session, the power assertion held from the
  // ejection until the verification has ended, and the thread that finishes a sub-processor image.
  std::unique_ptr<FwUpProgressSheet> progress_;
  mac::ModalSession session_{};
  mac::Window* parent_ = nullptr;
  std::unique_ptr<mac::ScopedSleepPrevention> awake_;
  std::thread finishing_;
};
