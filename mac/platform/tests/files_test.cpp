#include "mac/platform/files.h"

#include <gtest/gtest.h>

#include "mac/platform/platform.h"
#include "sim/recorder.h"

namespace mac {
namespace {

class PlatformFiles : public testing::Test {
 protected:
  Platform mac;
  FileManager& files = mac.fileManager();
};

TEST_F(PlatformFiles, FoldersAndFilesBehaveAsTheFileManagerSays) {
  struct Step {
    const char* what;
    std::function<bool()> run;
    bool expected;
  };
  const Step steps[] = {
      {"a folder needs its parent", [&] { return files.createDirectoryAtPath("/tmp/a/b"); }, false},
      {"one level", [&] { return files.createDirectoryAtPath("/tmp/a"); }, true},
      {"not twice", [&] { return files.createDirectoryAtPath("/tmp/a"); }, false},
      {"a file", [&] { return files.createFileAtPath("/tmp/a/Firm.bin", "image"); }, true},
      {"a file needs its folder", [&] { return files.createFileAtPath("/tmp/b/Firm.bin", "image"); }, false},
      {"a file over a folder", [&] { return files.createFileAtPath("/tmp/a", "x"); }, false},
      {"a folder copied whole", [&] { return files.copyPath("/tmp/a", "/tmp/c"); }, true},
      {"the copy holds the file", [&] { return files.contentsAtPath("/tmp/c/Firm.bin") == std::vector<uint8_t>{'i', 'm', 'a', 'g', 'e'}; }, true},
      {"no copy over what exists", [&] { return files.copyPath("/tmp/a", "/tmp/c"); }, false},
      {"no copy into itself", [&] { return files.copyPath("/tmp/a", "/tmp/a/inner"); }, false},
      {"moved", [&] { return files.movePath("/tmp/c", "/tmp/d"); }, true},
      {"gone from the old place", [&] { return files.fileExistsAtPath("/tmp/c"); }, false},
      {"removed with its contents", [&] { return files.removeFileAtPath("/tmp/d"); }, true},
      {"nothing to remove", [&] { return files.removeFileAtPath("/tmp/d"); }, false},
      {"the root stays", [&] { return files.removeFileAtPath("/"); }, false},
      {"no climbing out of the root", [&] { return files.createDirectoryAtPath("/../outside"); }, false},
      {"no relative paths", [&] { return files.fileExistsAtPath("tmp"); }, false},
      {". and .. within the root", [&] { return files.fileExistsAtPath("/tmp/./a/../a/Firm.bin"); }, true},
  };
  for (const Step& step : steps) EXPECT_EQ(step.run(), step.expected) << step.what;

  bool folder = false;
  EXPECT_TRUE(files.fileExistsAtPath("/tmp/a", &folder));
  EXPECT_TRUE(folder);
  files.createFileAtPath("/tmp/a/FwUpDate.INI", "");
  files.createDirectoryAtPath("/tmp/a/KextV2");
  EXPECT_EQ(files.directoryContentsAtPath("/tmp/a"), (std::vector<std::string>{"Firm.bin", "FwUpDate.INI", "KextV2"}));
  EXPECT_FALSE(files.directoryContentsAtPath("/tmp/a/Firm.bin"));
  EXPECT_FALSE(std::filesystem::exists(files.root().parent_path() / "outside"));
}

class PlatformVolumes : public testing::Test {
 protected:
  PlatformVolumes() {
    mac.connectRecorder(recorder);
    mac.workspace().notificationCenter().addObserver(this, std::string(NSWorkspaceDidMountNotification),
                                                     [this](const Notification& n) { mounts.push_back(*n.userInfo->string(NSDevicePath)); });
  }
  // The volume of a BSD disk, found by walking the mounted volumes by index as the updater does.
  std::optional<FSVolumeRefNum> VolumeOfDisk(std::string_view disk) {
    FSVolumeRefNum ref = 0;
    FSRef root;
    for (int i = 1; volumes.FSGetVolumeInfo(i, &ref, &root) == noErr; ++i) {
      std::string device;
      if (volumes.PBHGetVolParmsSync(ref, &device) == noErr && device.starts_with(disk)) return ref;
    }
    return std::nullopt;
  }

  sim::Recorder recorder;
  Platform mac;
  Volumes& volumes = mac.volumes();
  std::vector<std::string> mounts;
};

TEST_F(PlatformVolumes, TheRecordersVolumeIsFoundByItsDiskAndEjected) {
  const auto ref = VolumeOfDisk("disk2");
  ASSERT_TRUE(ref);
  FSRef file;
  ASSERT_EQ(volumes.FSPathMakeRef("/Volumes/ZT-5100", &file), noErr);
  FSVolumeRefNum holder = 0;
  EXPECT_EQ(volumes.FSGetCatalogInfo(file, &holder), noErr);
  EXPECT_EQ(holder, *ref);
  ASSERT_EQ(volumes.FSPathMakeRef("/tmp", &file), noErr);
  volumes.FSGetCatalogInfo(file, &holder);
  EXPECT_NE(holder, *ref) << "on the start-up disk";
  EXPECT_EQ(volumes.FSEjectVolumeSync(holder), fBsyErr) << "the start-up disk stays";
  std::vector<uint8_t> alias;
  EXPECT_EQ(volumes.FSNewAlias(nullptr, file, &alias), noErr);
  EXPECT_EQ(alias, (std::vector<uint8_t>{'a', 'l', 'i', 's', 0, 10, '/', 't', 'm', 'p'}));
  EXPECT_EQ(volumes.FSNewAlias(nullptr, FSRef{"/tmp/missing"}, &alias), fnfErr);

  EXPECT_EQ(volumes.FSEjectVolumeSync(*ref), noErr);
  EXPECT_FALSE(VolumeOfDisk("disk2"));
  EXPECT_FALSE(mac.fileManager().fileExistsAtPath("/Volumes/ZT-5100"));
  EXPECT_EQ(volumes.FSEjectVolumeSync(*ref), nsvErr);
  mac.simulation().runFor(Milliseconds(5000));
  EXPECT_FALSE(VolumeOfDisk("disk2")) << "it stays away while the recorder stays";
  mounts.clear();

  // The recorder restarts (as after a mode switch): its volume comes back, announced to the workspace.
  mac.simulation().unplug();
  mac.simulation().wait(Milliseconds(1000));
  mac.simulation().plug();
  mac.simulation().runFor(Milliseconds(3000));
  EXPECT_TRUE(VolumeOfDisk("disk2"));
  EXPECT_EQ(mounts, std::vector<std::string>{"/Volumes/ZT-5100"});
}

TEST_F(PlatformVolumes, ABusyVolumeRefusesToBeEjected) {
  struct Case {
    int busy;
    int failuresBeforeEjected;  // -1: never ejected in ten tries
  };
  const Case cases[] = {{0, 0}, {3, 3}, {-1, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.busy);
    mac.usb().setVolumeBusy(c.busy);
    if (!VolumeOfDisk("disk2")) {
      mac.simulation().unplug();
      mac.simulation().wait(Milliseconds(500));
      mac.simulation().plug();
      mac.simulation().runFor(Milliseconds(3000));
    }
    const auto ref = VolumeOfDisk("disk2");
    ASSERT_TRUE(ref);
    int failures = 0;
    while (failures < 10 && volumes.FSEjectVolumeSync(*ref) == fBsyErr) ++failures;
    EXPECT_EQ(failures, c.failuresBeforeEjected < 0 ? 10 : c.failuresBeforeEjected);
    EXPECT_EQ(VolumeOfDisk("disk2").has_value(), c.failuresBeforeEjected < 0);
  }
}

TEST_F(PlatformVolumes, TheRecorderGivesUpItsVolumeWhenPreparingAnUpdate) {
  ASSERT_TRUE(VolumeOfDisk("disk2"));
  recorder.volumeMounted = false;  // what the preparation command does to it
  mac.simulation().runFor(Milliseconds(200));
  EXPECT_FALSE(VolumeOfDisk("disk2"));
  EXPECT_TRUE(mac.usb().recorderPublished()) << "the device itself stays";
}

}  // namespace
}  // namespace mac
