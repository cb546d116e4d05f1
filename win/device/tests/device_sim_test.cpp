// The simulated host as the command layer sees it: a removable drive that holds the recorder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/state_file.h"
#include "win/device/device_io.h"
#include "win/device/pass_through.h"
#include "win/device/sim_host.h"

#include <dbt.h>  // after <windows.h>, which it needs

namespace {

struct Buffered {
  SCSI_PASS_THROUGH spt;
  ULONG filler;
  UCHAR sense[32];
  UCHAR data[256];
};

class SimHostTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = (std::filesystem::temp_directory_path() / "zt-device-sim-test.sim").string();
    _putenv_s("ZT_SIM_RECORDER", path_.c_str());
    _putenv_s("ZT_SIM_DRIVE", "R");
    // A second recorder beside it, which the cases of the first must not notice.
    path2_ = (std::filesystem::temp_directory_path() / "zt-device-sim-test-2.sim").string();
    _putenv_s("ZT_SIM_RECORDER2", path2_.c_str());
    _putenv_s("ZT_SIM_DRIVE2", "S");
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim::RecorderStore(path_).Create(sim::Recorder{}, error)) << error;
    ASSERT_TRUE(sim::RecorderStore(path2_).Create(sim::Recorder{}, error)) << error;
  }
  static void TearDownTestSuite() { RemoveWhenFree(path_), RemoveWhenFree(path2_); }

  // The host's watcher keeps reading the state files until the process ends, and Windows refuses to
  // remove a file that is open: try again for a while instead of failing the run.
  static void RemoveWhenFree(const std::string& path) {
    for (int attempt = 0; attempt < 40; ++attempt) {
      std::error_code error;
      std::filesystem::remove(path, error);
      if (!error) return;
      Sleep(50);
    }
    ADD_FAILURE() << "could not remove " << path;
  }

  static bool Query(HANDLE volume, uint8_t op, uint8_t sub, Buffered& b) {
    b = Buffered{};
    b.spt.Length = sizeof(SCSI_PASS_THROUGH);
    b.spt.CdbLength = 6;
    b.spt.SenseInfoLength = 24;
    b.spt.DataIn = SCSI_IOCTL_DATA_IN;
    b.spt.DataTransferLength = 256;
    b.spt.TimeOutValue = 2;
    b.spt.DataBufferOffset = offsetof(Buffered, data);
    b.spt.SenseInfoOffset = offsetof(Buffered, sense);
    b.spt.Cdb[0] = op;
    b.spt.Cdb[1] = sub;
    b.spt.Cdb[3] = op == 0x12 ? 0 : 8;
    b.spt.Cdb[4] = op == 0x12 ? 0xFF : 0;
    DWORD returned = 0;
    return device::IoControl(volume, IOCTL_SCSI_PASS_THROUGH, &b, sizeof(SCSI_PASS_THROUGH), &b, 336, &returned);
  }

  static std::string path_, path2_;
};
std::string SimHostTest::path_, SimHostTest::path2_;

TEST_F(SimHostTest, TheRecorderIsARemovableDriveThatAnswers) {
  EXPECT_EQ(device::SimulatedDriveLetter(), 'R');
  EXPECT_NE(device::LogicalDrives() & (1u << ('R' - 'A')), 0u);
  EXPECT_EQ(device::DriveType("R:\\"), static_cast<UINT>(DRIVE_REMOVABLE));

  const HANDLE volume = device::OpenVolume("\\\\.\\R:");
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  Buffered b;
  ASSERT_TRUE(Query(volume, 0x12, 0, b));
  EXPECT_EQ(b.spt.ScsiStatus, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data + 8), 7), "KESTREL");
  EXPECT_EQ(b.spt.DataTransferLength, 36u);

  ASSERT_TRUE(Query(volume, 0xE0, 0x05, b)) << "an unknown query still gets an answer";
  EXPECT_EQ(b.spt.ScsiStatus, 2) << "CHECK CONDITION";
  EXPECT_EQ(b.sense[2], 0x05) << "ILLEGAL REQUEST";

  DWORD max = 0, flags = 0;
  EXPECT_TRUE(device::VolumeInformation("R:\\", &max, &flags));
  device::CloseVolume(volume);
}

TEST_F(SimHostTest, AnUnpluggedRecorderIsNoDrive) {
  const HANDLE volume = device::OpenVolume("\\\\.\\R:");
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  std::string error;
  ASSERT_TRUE(sim::RecorderStore(path_).Update([](sim::Recorder& r) { return r.Unplug(), true; }, error));

  Buffered b;
  EXPECT_FALSE(Query(volume, 0x12, 0, b));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
  device::CloseVolume(volume);

  EXPECT_EQ(device::LogicalDrives() & (1u << ('R' - 'A')), 0u);
  EXPECT_EQ(device::OpenVolume("\\\\.\\R:"), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(device::VolumeInformation("R:\\", nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));
}

TEST_F(SimHostTest, OtherDrivesAreTheSystems) {
  EXPECT_EQ(device::DriveType("C:\\"), GetDriveTypeA("C:\\"));
  const HANDLE none = device::OpenVolume("\\\\.\\Q:");
  EXPECT_EQ(none, INVALID_HANDLE_VALUE);
}

// What the drive notifications of the simulated host look like to the process's windows.

struct Heard {
  WPARAM event;
  DWORD deviceType, unitMask;  // of the record that came with it; 0 for none
  WORD flags;
  bool operator==(const Heard&) const = default;
};
constexpr DWORD kDriveR = 1u << ('R' - 'A');
const Heard kRemoved{DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, kDriveR, 0};
const Heard kArrived{DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, kDriveR, 0};
const Heard kNodes{DBT_DEVNODES_CHANGED, 0, 0, 0};
constexpr DWORD kDriveS = 1u << ('S' - 'A');

// A hidden top-level window that writes down every WM_DEVICECHANGE. Made and destroyed on one
// thread, as windows must be; what it heard may be read from any thread.
class Listener {
 public:
  Listener() {
    static const ATOM kind = [] {
      WNDCLASSA c{};
      c.lpfnWndProc = Procedure;
      c.lpszClassName = "ZtDriveListener";
      return RegisterClassA(&c);
    }();
    window_ =
        CreateWindowExA(0, MAKEINTATOM(kind), "", WS_OVERLAPPEDWINDOW, 0, 0, 99, 99, nullptr, nullptr, nullptr, this);
  }
  ~Listener() { DestroyWindow(window_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  bool made() const { return window_ != nullptr; }
  std::vector<Heard> heard() const {
    std::lock_guard lock(mutex_);
    return heard_;
  }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrA(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Listener*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message != WM_DEVICECHANGE || !self) return DefWindowProcA(window, message, wParam, lParam);
    Heard heard{wParam, 0, 0, 0};
    if (const auto* volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(lParam)) {
      heard.deviceType = volume->dbcv_devicetype;
      if (heard.deviceType == DBT_DEVTYP_VOLUME) {
        heard.unitMask = volume->dbcv_unitmask;
        heard.flags = volume->dbcv_flags;
      }
    }
    std::lock_guard lock(self->mutex_);
    self->heard_.push_back(heard);
    return TRUE;
  }

  HWND window_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Heard> heard_;
};

// Runs this thread's messages until `done` or the time is up, so that no test can hang.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(6)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (MSG message;;) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

// A listener on a thread of its own that does nothing but answer its messages.
class ListenerThread {
 public:
  ListenerThread() { PumpUntil([this] { return listener_.load() != nullptr; }); }
  ~ListenerThread() { stop_ = true, thread_.join(); }
  bool made() const { return listener_ && listener_.load()->made(); }
  std::vector<Heard> heard() const { return listener_.load()->heard(); }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<Listener*> listener_{nullptr};
  std::thread thread_{[this] {
    Listener listener;
    listener_ = &listener;
    PumpUntil([this] { return stop_.load(); }, std::chrono::hours(1));
  }};
};

class DriveNotificationTest : public SimHostTest {
 protected:
  // A new recorder, attached, and the host caught up with it before any listener exists.
  void SetUp() override {
    SimHostTest::SetUp();
    device::PollSimulatedDrive();
  }
};

// Every top-level window of the process hears, whichever thread it belongs to.
TEST_F(DriveNotificationTest, EachLeaveAndReturnIsSentOnceInOrder) {
  using Change = std::function<void(sim::Recorder&)>;
  const std::vector<Heard> none, both{kRemoved, kNodes, kArrived, kNodes};
  const struct {
    const char* name;
    std::vector<std::pair<Change, size_t>> steps;  // a change, and how many have been heard after it
    std::vector<Heard> heard;
  } cases[] = {
      {"rewritten, still there", {{[](sim::Recorder& r) { r.log.push_back("12"); }, 0}}, none},
      {"unplugged, then plugged in",
       {{[](sim::Recorder& r) { r.Unplug(); }, 2}, {[](sim::Recorder& r) { r.Plug(); }, 4}}, both},
      {"gone and back between two looks", {{[](sim::Recorder& r) { r.Unplug(), r.Plug(); }, 4}}, both},
      {"restarts after its update and returns by itself",
       {{[](sim::Recorder& r) {
           r.restartDelayMs = 600, r.session.finished = true, r.HostReleased(sim::WallClockMs());
         },
         4}},
       both},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    Listener mine;
    ListenerThread theirs;
    ASSERT_TRUE(mine.made() && theirs.made());
    for (const auto& [change, heardAfter] : c.steps) {
      std::string error;
      ASSERT_TRUE(sim::RecorderStore(path_).Update([&](sim::Recorder& r) { return change(r), true; }, error)) << error;
      EXPECT_TRUE(PumpUntil([&] { return mine.heard().size() >= heardAfter && theirs.heard().size() >= heardAfter; }));
    }
    PumpUntil([] { return false; }, std::chrono::milliseconds(800));  // three more looks change nothing
    EXPECT_EQ(mine.heard(), c.heard);
    EXPECT_EQ(theirs.heard(), c.heard);
  }
}

// Two recorders on two letters: each drive reaches its own recorder, and each is reported alone.
TEST_F(DriveNotificationTest, ASecondRecorderHasADriveOfItsOwn) {
  EXPECT_EQ(device::SimulatedDriveLetter(1), 'S');
  EXPECT_EQ(device::SimulatedDriveLetter(2), '\0');
  EXPECT_EQ(device::LogicalDrives() & (kDriveR | kDriveS), kDriveR | kDriveS);
  EXPECT_EQ(device::DriveType("S:\\"), static_cast<UINT>(DRIVE_REMOVABLE));
  // Closed on every path, also when a check below ends the case.
  struct Volume {
    explicit Volume(const char* path) : handle(device::OpenVolume(path)) {}
    ~Volume() {
      if (handle != INVALID_HANDLE_VALUE) device::CloseVolume(handle);
    }
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;
    const HANDLE handle;
  } const firstVolume("\\\\.\\R:"), secondVolume("\\\\.\\S:");
  const HANDLE first = firstVolume.handle, second = secondVolume.handle;
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  Buffered b;
  EXPECT_TRUE(Query(second, 0x12, 0, b));
  sim::Recorder a, other;
  std::string error;
  ASSERT_TRUE(sim::RecorderStore(path_).Read(a, error) && sim::RecorderStore(path2_).Read(other, error)) << error;
  EXPECT_TRUE(a.log.empty()) << "the second drive asked the first recorder";
  EXPECT_EQ(other.log, std::vector<std::string>{"12"});

  Listener mine;
  ASSERT_TRUE(mine.made());
  ASSERT_TRUE(sim::RecorderStore(path2_).Update([](sim::Recorder& r) { return r.Unplug(), true; }, error)) << error;
  EXPECT_TRUE(PumpUntil([&] { return mine.heard().size() >= 2; }));
  PumpUntil([] { return false; }, std::chrono::milliseconds(800));  // three more looks change nothing
  EXPECT_EQ(mine.heard(), (std::vector<Heard>{{DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_VOLUME, kDriveS, 0}, kNodes}));
  EXPECT_EQ(device::LogicalDrives() & (kDriveR | kDriveS), kDriveR);
  EXPECT_FALSE(Query(second, 0x12, 0, b));
  EXPECT_TRUE(Query(first, 0x12, 0, b)) << "the first recorder went with the second";
}

}  // namespace
