#pragma once
// Files and volumes of the simulated Mac. The Mac's file system is a real folder of this machine (its
// root): "/tmp/x" is <root>/tmp/x. Real folders, because the Mac programs' bundles are real
// directory trees and the wrapper starts programs inside them. A path that would climb out of the
// root is refused like one that does not exist.
//
// The simulated disk is case-insensitive, as the Mac's default disk is: "/tmp/Glossaries.TXT" finds
// "/tmp/glossaries.txt", and a name keeps the case it was created with. Only ASCII letters are folded.
//
// Volumes: the File Manager's view of what is mounted, by volume index and reference number, each
// volume with its BSD device name (disk2s1) and mount point. The start-up disk is mounted at "/" and
// cannot be ejected; the simulation mounts others (the recorder's) and can make their ejection fail.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mac/platform/runloop.h"

namespace mac {

using OSErr = int16_t;
using OSStatus = int32_t;
inline constexpr OSErr noErr = 0;
inline constexpr OSErr nsvErr = -35;    // no such volume
inline constexpr OSErr fnfErr = -43;    // file not found
inline constexpr OSErr fBsyErr = -47;   // file or volume busy
inline constexpr OSErr paramErr = -50;

class Transcript;
class NotificationCenter;

// NSFileManager, and the reading and writing of whole files (NSData).
// Two names are one on the Mac's disk.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

class FileManager {
 public:
  explicit FileManager(std::filesystem::path root) : root_(std::move(root)) {}

  const std::filesystem::path& root() const { return root_; }
  // The folder of this machine that stands for `path`, with the case of the names that exist; nothing
  // for a relative path or one that climbs out of the root.
  std::optional<std::filesystem::path> hostPath(std::string_view path) const;

  bool fileExistsAtPath(std::string_view path, bool* isDirectory = nullptr) const;
  // The entries of a folder, by name; nothing when it is not a folder that can be read.
  std::optional<std::vector<std::string>> directoryContentsAtPath(std::string_view path) const;
  // createDirectoryAtPath:attributes: makes one level: false when the parent is missing or
  // something exists there already.
  bool createDirectoryAtPath(std::string_view path) const;
  // Writes the whole file, replacing what was there; false when the folder is missing.
  bool createFileAtPath(std::string_view path, std::span<const uint8_t> contents) const;
  bool createFileAtPath(std::string_view path, std::string_view contents) const;
  std::optional<std::vector<uint8_t>> contentsAtPath(std::string_view path) const;
  // removeFileAtPath:handler: removes a file, or a folder with everything in it.
  bool removeFileAtPath(std::string_view path) const;
  // copyPath:toPath:handler: copies a file or a whole folder; false when the destination exists.
  bool copyPath(std::string_view source, std::string_view destination) const;
  bool movePath(std::string_view source, std::string_view destination) const;

 private:
  std::filesystem::path root_;
};

using FSVolumeRefNum = int16_t;

// FSRef: a reference to an existing file or folder; here its path.
struct FSRef {
  std::string path;
};

class Volumes {
 public:
  struct Volume {
    FSVolumeRefNum refNum = 0;
    std::string deviceName;  // BSD name of the partition, such as "disk2s1"
    std::string mountPath;   // "/" or "/Volumes/<name>"
    bool ejectable = true;
  };

  Volumes(FileManager& files, RunLoop& runLoop, Transcript& transcript, NotificationCenter& workspaceCenter);

  // FSPathMakeRef: fnfErr when nothing exists at the path.
  OSStatus FSPathMakeRef(std::string_view path, FSRef* ref, bool* isDirectory = nullptr) const;
  // FSGetCatalogInfo for the volume only: the volume that holds the item.
  OSErr FSGetCatalogInfo(const FSRef& ref, FSVolumeRefNum* volume) const;
  // FSRefMakePath.
  OSStatus FSRefMakePath(const FSRef& ref, std::string* path) const;
  // FSNewAlias: the alias record of an existing item (no relative item), as bytes. Our record:
  // "alis", the record's size (two bytes, big-endian), then the item's path.
  OSErr FSNewAlias(const FSRef* fromFile, const FSRef& target, std::vector<uint8_t>* alias) const;
  // FSGetVolumeInfo by index from 1 (mount order): nsvErr past the last volume.
  OSErr FSGetVolumeInfo(int index, FSVolumeRefNum* volume, FSRef* root) const;
  // PBHGetVolParmsSync's vMDeviceID: the volume's BSD device name.
  OSErr PBHGetVolParmsSync(FSVolumeRefNum volume, std::string* deviceName) const;
  // FSEjectVolumeSync: fBsyErr when the volume is in use (or is the start-up disk), nsvErr when
  // there is no such volume.
  OSStatus FSEjectVolumeSync(FSVolumeRefNum volume);

  // ---- The simulation's side ----
  // Mounts a volume (its folder is made) and tells the workspace's observers. Its reference number.
  FSVolumeRefNum mount(std::string deviceName, std::string mountPath);
  // The volume goes away without being asked (its device left); true when it was mounted.
  bool unmount(std::string_view mountPath);
  // The next `count` ejections of the volume fail as busy; a negative count: all of them.
  void setBusy(std::string_view mountPath, int count);
  std::vector<Volume> volumes() const;
  std::optional<Volume> find(std::string_view mountPath) const;
  int ejectAttempts() const { return ejectAttempts_; }

 private:
  struct Mounted {
    Volume volume;
    int busy = 0;
  };
  const Mounted* byRef(FSVolumeRefNum refNum) const;
  void remove(size_t index, std::string_view how);

  FileManager& files_;
  RunLoop& runLoop_;
  Transcript& transcript_;
  NotificationCenter& workspaceCenter_;
  std::vector<Mounted> mounted_;
  FSVolumeRefNum nextRefNum_ = -100;
  int ejectAttempts_ = 0;
};

}  // namespace mac
