#include <windows.h>

#include "sim/locked_file.h"

namespace sim {

namespace {
HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
std::string LastError(const std::string& what) { return what + ": Windows error " + std::to_string(GetLastError()); }
}  // namespace

LockedFile::~LockedFile() {
  if (handle_ != -1) CloseHandle(H(handle_));  // closing releases the lock
}

bool LockedFile::Open(const std::string& path, bool create, std::string& error) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = LastError(path);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    error = LastError(path + " (lock)");
    return false;
  }
  if (create && (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(file))) {
    error = LastError(path);
    return false;
  }
  return true;
}

bool LockedFile::ReadAll(std::vector<uint8_t>& bytes, std::string& error) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(H(handle_), &size) || SetFilePointer(H(handle_), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    error = LastError("size");
    return false;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(H(handle_), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) || n == 0) {
      error = LastError("read");
      return false;
    }
    done += n;
  }
  return true;
}

bool LockedFile::WriteAll(const std::vector<uint8_t>& bytes, std::string& error) {
  if (SetFilePointer(H(handle_), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    error = LastError("seek");
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(H(handle_), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) || n == 0) {
      error = LastError("write");
      return false;
    }
    done += n;
  }
  if (!SetEndOfFile(H(handle_))) {
    error = LastError("truncate");
    return false;
  }
  return true;
}

}  // namespace sim
