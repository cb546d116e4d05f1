#include "mac/platform/files.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "mac/platform/foundation.h"
#include "mac/platform/transcript.h"

namespace fs = std::filesystem;

namespace mac {

namespace {

// The absolute path with "." and ".." resolved and no doubled or trailing "/"; nothing for a
// relative path or one that climbs above "/".
std::optional<std::string> Normalized(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos < path.size()) {
    const size_t slash = path.find('/', pos);
    const std::string_view part = path.substr(pos, slash == std::string_view::npos ? std::string_view::npos : slash - pos);
    pos = slash == std::string_view::npos ? path.size() : slash + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const auto part : parts) out.append("/").append(part);
  return out.empty() ? "/" : out;
}

bool Within(std::string_view path, std::string_view folder) {
  if (folder == "/") return true;
  return path.substr(0, folder.size()) == folder && (path.size() == folder.size() || path[folder.size()] == '/');
}

}  // namespace

// ---- FileManager ----



bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<fs::path> FileManager::hostPath(std::string_view path) const {
  const auto normalized = Normalized(path);
  if (!normalized) return std::nullopt;
  // The Mac's disk finds a name in any case and keeps the case it was created with: each part is
  // the entry that is there under any case, or the part as written when there is none.
  fs::path host = root_;
  bool existing = true;
  size_t pos = 1;
  while (pos < normalized->size()) {
    const size_t slash = normalized->find('/', pos);
    const std::string part = normalized->substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    pos = slash == std::string::npos ? normalized->size() : slash + 1;
    std::error_code ec;
    fs::path next = host / part;
    if (existing && !fs::exists(fs::symlink_status(next, ec))) {
      existing = false;
      for (fs::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (SameNameIgnoringCase(name, part)) {
          next = host / name;
          existing = true;
          break;
        }
      }
    }
    host = std::move(next);
  }
  return host;
}

bool FileManager::fileExistsAtPath(std::string_view path, bool* isDirectory) const {
  const auto host = hostPath(path);
  std::error_code ec;
  if (!host || !fs::exists(*host, ec)) return false;
  if (isDirectory) *isDirectory = fs::is_directory(*host, ec);
  return true;
}

std::optional<std::vector<std::string>> FileManager::directoryContentsAtPath(std::string_view path) const {
  const auto host = hostPath(path);
  std::error_code ec;
  if (!host || !fs::is_directory(*host, ec)) return std::nullopt;
  std::vector<std::string> names;
  for (fs::directory_iterator it(*host, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) return std::nullopt;
  std::sort(names.begin(), names.end());
  return names;
}

bool FileManager::createDirectoryAtPath(std::string_view path) const {
  const auto host = hostPath(path);
  std::error_code ec;
  if (!host || fs::exists(*host, ec) || !fs::is_directory(host->parent_path(), ec)) return false;
  return fs::create_directory(*host, ec);
}

bool FileManager::createFileAtPath(std::string_view path, std::span<const uint8_t> contents) const {
  const auto host = hostPath(path);
  std::error_code ec;
  if (!host || *host == root_ || !fs::is_directory(host->parent_path(), ec) || fs::is_directory(*host, ec)) return false;
  std::ofstream out(*host, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
  return static_cast<bool>(out.flush());
}

bool FileManager::createFileAtPath(std::string_view path, std::string_view contents) const {
  return createFileAtPath(path, std::span(reinterpret_cast<const uint8_t*>(contents.data()), contents.size()));
}

std::optional<std::vector<uint8_t>> FileManager::contentsAtPath(std::string_view path) const {
  const auto host = hostPath(path);
  std::error_code ec;
  if (!host || !fs::is_regular_file(*host, ec)) return std::nullopt;
  std::ifstream in(*host, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool FileManager::removeFileAtPath(std::string_view path) const {
  const auto host = hostPath(path);
  std::error_code ec;
  if (!host || *host == root_ || !fs::exists(fs::symlink_status(*host, ec))) return false;
  return fs::remove_all(*host, ec) != static_cast<std::uintmax_t>(-1) && !ec;
}

bool FileManager::copyPath(std::string_view source, std::string_view destination) const {
  const auto from = hostPath(source);
  const auto to = hostPath(destination);
  std::error_code ec;
  if (!from || !to || *to == root_ || !fs::exists(*from, ec) || fs::exists(*to, ec) ||
      !fs::is_directory(to->parent_path(), ec)) {
    return false;
  }
  // A folder copied into itself would never end.
  if (Within(*Normalized(destination), *Normalized(source))) return false;
  fs::copy(*from, *to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  return !ec;
}

bool FileManager::movePath(std::string_view source, std::string_view destination) const {
  const auto from = hostPath(source);
  const auto to = hostPath(destination);
  std::error_code ec;
  if (!from || !to || *from == root_ || *to == root_ || !fs::exists(*from, ec) || fs::exists(*to, ec) ||
      !fs::is_directory(to->parent_path(), ec)) {
    return false;
  }
  if (Within(*Normalized(destination), *Normalized(source))) return false;
  fs::rename(*from, *to, ec);
  return !ec;
}

// ---- Volumes ----

Volumes::Volumes(FileManager& files, RunLoop& runLoop, Transcript& transcript, NotificationCenter& workspaceCenter)
    : files_(files), runLoop_(runLoop), transcript_(transcript), workspaceCenter_(workspaceCenter) {
  mounted_.push_back(Mounted{Volume{nextRefNum_--, "disk0s2", "/", false}});
}

const Volumes::Mounted* Volumes::byRef(FSVolumeRefNum refNum) const {
  for (const Mounted& m : mounted_) {
    if (m.volume.refNum == refNum) return &m;
  }
  return nullptr;
}

std::vector<Volumes::Volume> Volumes::volumes() const {
  std::vector<Volume> list;
  for (const Mounted& m : mounted_) list.push_back(m.volume);
  return list;
}

std::optional<Volumes::Volume> Volumes::find(std::string_view mountPath) const {
  for (const Mounted& m : mounted_) {
    if (m.volume.mountPath == mountPath) return m.volume;
  }
  return std::nullopt;
}

OSStatus Volumes::FSPathMakeRef(std::string_view path, FSRef* ref, bool* isDirectory) const {
  const auto normalized = Normalized(path);
  if (!ref) return paramErr;
  if (!normalized || !files_.fileExistsAtPath(*normalized, isDirectory)) return fnfErr;
  ref->path = *normalized;
  return noErr;
}

OSErr Volumes::FSGetCatalogInfo(const FSRef& ref, FSVolumeRefNum* volume) const {
  if (!volume) return paramErr;
  if (!files_.fileExistsAtPath(ref.path)) return fnfErr;
  const Mounted* best = nullptr;
  for (const Mounted& m : mounted_) {
    if (Within(ref.path, m.volume.mountPath) && (!best || m.volume.mountPath.size() > best->volume.mountPath.size())) best = &m;
  }
  if (!best) return nsvErr;
  *volume = best->volume.refNum;
  return noErr;
}

OSStatus Volumes::FSRefMakePath(const FSRef& ref, std::string* path) const {
  if (!path) return paramErr;
  if (!files_.fileExistsAtPath(ref.path)) return fnfErr;
  *path = ref.path;
  return noErr;
}

OSErr Volumes::FSNewAlias(const FSRef*, const FSRef& target, std::vector<uint8_t>* alias) const {
  if (!alias) return paramErr;
  if (!files_.fileExistsAtPath(target.path)) return fnfErr;
  const size_t size = 6 + target.path.size();
  if (size > 0xFFFF) return paramErr;
  *alias = {'a', 'l', 'i', 's', static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
  alias->insert(alias->end(), target.path.begin(), target.path.end());
  return noErr;
}

OSErr Volumes::FSGetVolumeInfo(int index, FSVolumeRefNum* volume, FSRef* root) const {
  if (index < 1 || static_cast<size_t>(index) > mounted_.size()) return nsvErr;
  const Volume& v = mounted_[static_cast<size_t>(index - 1)].volume;
  if (volume) *volume = v.refNum;
  if (root) root->path = v.mountPath;
  return noErr;
}

OSErr Volumes::PBHGetVolParmsSync(FSVolumeRefNum volume, std::string* deviceName) const {
  const Mounted* m = byRef(volume);
  if (!m) return nsvErr;
  if (deviceName) *deviceName = m->volume.deviceName;
  return noErr;
}

OSStatus Volumes::FSEjectVolumeSync(FSVolumeRefNum volume) {
  ++ejectAttempts_;
  for (size_t i = 0; i < mounted_.size(); ++i) {
    Mounted& m = mounted_[i];
    if (m.volume.refNum != volume) continue;
    if (!m.volume.ejectable || m.busy != 0) {
      if (m.busy > 0) --m.busy;
      transcript_.add("volume " + m.volume.mountPath + " busy, not ejected");
      return fBsyErr;
    }
    remove(i, "ejected");
    return noErr;
  }
  return nsvErr;
}

FSVolumeRefNum Volumes::mount(std::string deviceName, std::string mountPath) {
  const auto normalized = Normalized(mountPath);
  if (!normalized || *normalized == "/") return 0;
  if (const auto host = files_.hostPath(*normalized)) {
    std::error_code ec;
    fs::create_directories(*host, ec);
  }
  const FSVolumeRefNum refNum = nextRefNum_--;
  mounted_.push_back(Mounted{Volume{refNum, std::move(deviceName), *normalized, true}});
  transcript_.add("volume " + *normalized + " (" + mounted_.back().volume.deviceName + ") mounted");
  runLoop_.perform(RunLoopMode::Default, [this, path = *normalized] {
    workspaceCenter_.postNotificationName(std::string(NSWorkspaceDidMountNotification), nullptr,
                                          UserInfo().set(std::string(NSDevicePath), path));
  });
  return refNum;
}

bool Volumes::unmount(std::string_view mountPath) {
  for (size_t i = 0; i < mounted_.size(); ++i) {
    if (mounted_[i].volume.mountPath == mountPath && mounted_[i].volume.ejectable) {
      remove(i, "gone");
      return true;
    }
  }
  return false;
}

void Volumes::remove(size_t index, std::string_view how) {
  const Volume volume = mounted_[index].volume;
  mounted_.erase(mounted_.begin() + static_cast<std::ptrdiff_t>(index));
  files_.removeFileAtPath(volume.mountPath);
  transcript_.add("volume " + volume.mountPath + " " + std::string(how));
  runLoop_.perform(RunLoopMode::Default, [this, path = volume.mountPath] {
    workspaceCenter_.postNotificationName(std::string(NSWorkspaceDidUnmountNotification), nullptr,
                                          UserInfo().set(std::string(NSDevicePath), path));
  });
}

void Volumes::setBusy(std::string_view mountPath, int count) {
  for (Mounted& m : mounted_) {
    if (m.volume.mountPath == mountPath) m.busy = count;
  }
}

}  // namespace mac
