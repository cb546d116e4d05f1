#pragma once
// An exclusively locked file, with one implementation per platform. The lock is the kind both the
// native tools and programs running under Wine honour, so they serialise on the same file.

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class LockedFile {
 public:
  LockedFile() = default;
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // Opens (or with `create`, creates and empties) the file and waits for its exclusive lock.
  bool Open(const std::string& path, bool create, std::string& error);
  bool ReadAll(std::vector<uint8_t>& bytes, std::string& error);
  bool WriteAll(const std::vector<uint8_t>& bytes, std::string& error);

 private:
  intptr_t handle_ = -1;
};

}  // namespace sim
