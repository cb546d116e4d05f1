#include "win/updater/scsi/scsi_command_if.h"

#include <vector>

#include "win/device/device_io.h"

namespace {
constexpr int kLockAttempts = 101;
constexpr DWORD kLockPauseMs = 100;
}  // namespace

std::string CScsiCommandIF::DevicePath(uint32_t drive) {
  std::string path = "\\\\.\\?:";
  path[4] = static_cast<char>('A' + drive);
  return path;
}

bool CScsiCommandIF::AcquireApiLock() {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    win::ScopedHandle mutex(CreateMutexA(nullptr, FALSE, "RV1_API_MUTEX"));
    if (mutex.valid() && GetLastError() != ERROR_ALREADY_EXISTS) {
      apiLock_ = std::move(mutex);
      return true;
    }
    // Another holder: our handle to its mutex is closed again by the owner above.
    mutex.Reset();
    Sleep(kLockPauseMs);
  }
  return false;
}

void CScsiCommandIF::ReleaseApiLock() { apiLock_.Reset(); }

uint16_t CScsiCommandIF::FindDevice(uint32_t deviceId) {
  const DWORD drives = device::LogicalDrives();
  for (uint32_t index = 2; index < 26; ++index) {
    if ((drives & (1u << index)) == 0) continue;
    char root[] = "A:\\";
    root[0] = static_cast<char>('A' + index);
    if (device::DriveType(root) != DRIVE_REMOVABLE) continue;
    if (CheckDrive(index, deviceId) != NotFound) return static_cast<uint16_t>(index);
  }
  return NotFound;
}

uint16_t CScsiCommandIF::CheckDrive(uint32_t drive, uint32_t deviceId) {
  if (!Open(drive)) return NotFound;
  uint16_t result = NotFound;
  uint8_t inquiry[32] = {};
  uint32_t id = 0;
  if (Inquiry(inquiry) && IsRecorderVendor(inquiry) && GetDeviceId(id) && id == deviceId) {
    result = static_cast<uint16_t>(drive);
  }
  Close();
  return result;
}

bool CScsiCommandIF::IsSameDrive(uint32_t a, uint32_t b, uint32_t) { return a == b; }

bool IsEnabledAdministrator(std::span<const TokenGroupView> groups) {
  for (const TokenGroupView& group : groups) {
    if (group.administrators && (group.attributes & SE_GROUP_ENABLED) && !(group.attributes & SE_GROUP_USE_FOR_DENY_ONLY)) {
      return true;
    }
  }
  return false;
}

namespace {

// The groups of the process token, marked where they are Administrators; empty when unreadable.
std::vector<TokenGroupView> ProcessTokenGroups(PSID administrators) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  const win::ScopedHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
  if (size < sizeof(TOKEN_GROUPS)) return {};
  // TOKEN_GROUPS holds pointers: the buffer must be aligned for them.
  std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
  if (!GetTokenInformation(token.get(), TokenGroups, buffer.data(), size, &size)) return {};
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  std::vector<TokenGroupView> views;
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    views.push_back({EqualSid(groups->Groups[i].Sid, administrators) != 0, groups->Groups[i].Attributes});
  }
  return views;
}

}  // namespace

bool IsUserAdmin() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators)) {
    return false;
  }
  // The system's own answer counts enabled memberships only; where it cannot answer, the token's
  // groups are read and judged by the same rule.
  BOOL member = FALSE;
  const bool answered = CheckTokenMembership(nullptr, administrators, &member) != FALSE;
  const bool result = answered ? member != FALSE : IsEnabledAdministrator(ProcessTokenGroups(administrators));
  FreeSid(administrators);
  return result;
}
