#pragma once
// Processes and the services around them: the kernel's process table (sysctl), the Process Manager's
// named processes, the shell, Authorization Services with the privileged tool, Apple events (the
// restart request) and the user's login items.
//
// One simulated process table serves all of them and the workspace's list of launched
// applications: a process has a pid, a user, a command name (as the kernel keeps it, at most 16
// characters) and, when the Process Manager knows it, a name and a serial number.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mac/platform/clock.h"
#include "mac/platform/files.h"

namespace mac {

class Transcript;

using pid_t = int32_t;
using uid_t = uint32_t;

struct ProcessSerialNumber {
  uint32_t highLongOfPSN = 0;
  uint32_t lowLongOfPSN = 0;
  friend bool operator==(const ProcessSerialNumber&, const ProcessSerialNumber&) = default;
};
inline constexpr uint32_t kNoProcess = 0;
inline constexpr uint32_t kSystemProcess = 1;
inline constexpr OSErr procNotFound = -600;

// sysctl's name for the whole process table: {CTL_KERN, KERN_PROC, KERN_PROC_ALL}.
inline constexpr int kCtlKern = 1;
inline constexpr int kKernProc = 14;
inline constexpr int kKernProcAll = 0;
// The table's records, in the layout of the 32-bit system: kinfo_proc is 492 bytes, the pid
// (p_pid) at byte 24, the command name (p_comm, 16 characters and a zero) at byte 163, the user id
// (host order) at byte 304.
inline constexpr size_t kKinfoProcSize = 492;
inline constexpr size_t kKinfoProcPidOffset = 24;
inline constexpr size_t kKinfoProcCommOffset = 163;
inline constexpr size_t kKinfoProcCommSize = 17;
inline constexpr size_t kKinfoProcUidOffset = 304;

class Processes {
 public:
  struct Process {
    pid_t pid = 0;
    uid_t uid = 0;
    std::string command;      // what the kernel keeps (cut to 16 characters)
    std::string name;         // the Process Manager's name; empty for processes it does not know
    std::string bundlePath;   // applications only
    bool application = false;  // among the workspace's launched applications
    ProcessSerialNumber psn;
    // Lives outside this process (in the world file); its pid may equal one of this table's own.
    bool outside = false;
  };

  Processes(Transcript& transcript, Process self);

  // The processes of other programs that live outside this process (in the world file of the
  // simulated Mac): listed again whenever the table is looked at, so programs that start and end
  // meanwhile come and go; started and stopped there by the simulation.
  struct Outside {
    std::function<std::vector<Process>()> list;
    std::function<pid_t(const Process&)> start;
    std::function<void(pid_t)> stop;
  };
  void setOutside(Outside outside);

  // sysctl: 0, or -1 with errno set (EINVAL for another name, ENOMEM when the buffer is too small).
  // Without a buffer it answers the size the table needs now.
  int sysctl(std::span<const int> name, void* oldp, size_t* oldlenp);
  uid_t getuid() const { return self_.uid; }

  // The Process Manager. GetNextProcess from {0, kNoProcess} walks the processes it knows.
  OSErr GetNextProcess(ProcessSerialNumber* psn) const;
  OSStatus CopyProcessName(const ProcessSerialNumber& psn, std::string* name) const;
  OSErr KillProcess(const ProcessSerialNumber& psn);
  OSErr GetCurrentProcess(ProcessSerialNumber* psn) const;
  OSErr SetFrontProcess(const ProcessSerialNumber& psn);

  // system(3): the command's exit status as the shell reports it.
  int system(std::string_view command);

  // ---- The simulation's side ----
  // A process of another program (a Process Manager name makes it a known process).
  pid_t start(std::string command, std::string name = {}, uid_t uid = 0, std::string bundlePath = {}, bool application = false);
  void stop(pid_t pid);
  // Another user logged in: a Finder of theirs runs.
  void logInUser(uid_t uid);
  // The next time the table's size is asked, `count` processes start right after the answer.
  void growAfterNextSizeQuery(size_t count) { growBy_ = count; }
  // What system() does: by default nothing runs and the shell answers 127 (command not found).
  void setShell(std::function<int(std::string_view command)> shell) { shell_ = std::move(shell); }
  const std::vector<std::string>& shellCommands() const { return shellCommands_; }
  const std::vector<Process>& table() const {
    sync();
    return table_;
  }
  const Process& self() const { return self_; }
  std::optional<ProcessSerialNumber> frontProcess() const { return front_; }
  // Tells who follows the table's changes (the workspace).
  void setObserver(std::function<void(const Process&, bool started)> observer) { observer_ = std::move(observer); }

 private:
  const Process* byPsn(const ProcessSerialNumber& psn) const;
  void stopEntry(std::vector<Process>::iterator entry);
  // Brings the processes from outside up to date (the table is what the system would answer now).
  void sync() const;

  Transcript& transcript_;
  Process self_;
  mutable std::vector<Process> table_;
  Outside outside_;
  mutable std::vector<pid_t> outsidePids_;
  pid_t nextPid_ = 300;
  mutable uint32_t nextPsn_ = 0x1000;
  size_t growBy_ = 0;
  std::optional<ProcessSerialNumber> front_;
  std::function<int(std::string_view)> shell_;
  std::vector<std::string> shellCommands_;
  std::function<void(const Process&, bool)> observer_;
};

// ---- Authorization Services ----

inline constexpr OSStatus errAuthorizationSuccess = 0;
inline constexpr OSStatus errAuthorizationInvalidRef = -60002;
inline constexpr OSStatus errAuthorizationDenied = -60005;
inline constexpr OSStatus errAuthorizationCanceled = -60006;
inline constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
inline constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;
inline constexpr uint32_t kAuthorizationFlagDefaults = 0;
inline constexpr uint32_t kAuthorizationFlagInteractionAllowed = 1;
inline constexpr uint32_t kAuthorizationFlagExtendRights = 2;
inline constexpr uint32_t kAuthorizationFlagPreAuthorize = 16;
inline constexpr std::string_view kAuthorizationRightExecute = "system.privilege.admin";

struct AuthorizationItem {
  std::string name;
};
using AuthorizationRights = std::vector<AuthorizationItem>;
struct AuthorizationOpaqueRef;
using AuthorizationRef = AuthorizationOpaqueRef*;

class Authorization {
 public:
  Authorization(Clock& clock, const FileManager& files, Transcript& transcript);
  ~Authorization();

  OSStatus AuthorizationCreate(const AuthorizationRights* rights, uint32_t flags, AuthorizationRef* authorization);
  // Asks the user (when interaction is allowed) for the rights not held yet.
  OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights& rights, uint32_t flags);
  // Runs a tool as the administrator; needs the execute right.
  OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, std::string_view toolPath,
                                              const std::vector<std::string>& arguments);
  OSStatus AuthorizationFree(AuthorizationRef authorization, uint32_t flags);

  // ---- The simulation's side ----
  // The user's next answers, in order: errAuthorizationSuccess (the password was given),
  // errAuthorizationDenied or errAuthorizationCanceled. Without one the user grants.
  void answerNext(OSStatus answer) { answers_.push_back(answer); }
  // What the privileged tool does, `delay` after it was started (it runs on its own, as the
  // program goes on).
  void setToolEffect(std::function<void(const std::vector<std::string>& arguments)> effect, Milliseconds delay);
  // Where the Mac is a world on disk: the user's answers queued there (used once the simulation's
  // own are spent), and the tool run as the real program it is, to its end, before the call returns
  // (its status: success once it ran, whatever it did).
  void setOutside(std::function<std::optional<OSStatus>()> nextAnswer,
                  std::function<OSStatus(std::string_view toolPath, const std::vector<std::string>& arguments)> runTool) {
    nextAnswer_ = std::move(nextAnswer);
    runTool_ = std::move(runTool);
  }
  struct Execution {
    std::string tool;
    std::vector<std::string> arguments;
  };
  const std::vector<Execution>& executions() const { return executions_; }
  size_t questionsAsked() const { return questions_; }
  size_t openAuthorizations() const { return refs_.size(); }

 private:
  struct Ref;
  Ref* find(AuthorizationRef authorization);

  Clock& clock_;
  const FileManager& files_;
  Transcript& transcript_;
  std::map<AuthorizationRef, std::unique_ptr<Ref>> refs_;
  std::vector<OSStatus> answers_;
  std::function<std::optional<OSStatus>()> nextAnswer_;
  std::function<OSStatus(std::string_view, const std::vector<std::string>&)> runTool_;
  size_t questions_ = 0;
  std::function<void(const std::vector<std::string>&)> effect_;
  Milliseconds effectDelay_{0};
  std::vector<Execution> executions_;
};

// A scoped AuthorizationRef: freed on every path.
class ScopedAuthorization {
 public:
  explicit ScopedAuthorization(Authorization& services) : services_(services) {}
  ScopedAuthorization(const ScopedAuthorization&) = delete;
  ScopedAuthorization& operator=(const ScopedAuthorization&) = delete;
  ~ScopedAuthorization() {
    if (ref_) services_.AuthorizationFree(ref_, kAuthorizationFlagDefaults);
  }
  AuthorizationRef get() const { return ref_; }
  AuthorizationRef* receive() { return &ref_; }

 private:
  Authorization& services_;
  AuthorizationRef ref_ = nullptr;
};

// ---- Apple events ----

using OSType = uint32_t;
constexpr OSType FourCharCode(const char (&code)[5]) {
  return (static_cast<OSType>(static_cast<uint8_t>(code[0])) << 24) | (static_cast<OSType>(static_cast<uint8_t>(code[1])) << 16) |
         (static_cast<OSType>(static_cast<uint8_t>(code[2])) << 8) | static_cast<OSType>(static_cast<uint8_t>(code[3]));
}
inline constexpr OSType kCoreEventClass = FourCharCode("aevt");
inline constexpr OSType kAERestart = FourCharCode("rest");
inline constexpr OSType typeProcessSerialNumber = FourCharCode("psn ");
inline constexpr int16_t kAutoGenerateReturnID = -1;
inline constexpr int32_t kAnyTransactionID = 0;
inline constexpr int32_t kAENoReply = 0x01;
inline constexpr int32_t kAEAlwaysInteract = 0x30;
inline constexpr int32_t kAECanSwitchLayer = 0x40;
inline constexpr long kAEDefaultTimeout = -1;

struct AEAddressDesc {
  OSType descriptorType = 0;
  ProcessSerialNumber psn;
};
struct AppleEvent {
  OSType eventClass = 0;
  OSType eventID = 0;
  AEAddressDesc target;
  int16_t returnID = 0;
  int32_t transactionID = 0;
};

class AppleEvents {
 public:
  explicit AppleEvents(Transcript& transcript) : transcript_(transcript) {}

  OSErr AECreateDesc(OSType type, const ProcessSerialNumber& psn, AEAddressDesc* result) const;
  OSErr AECreateAppleEvent(OSType eventClass, OSType eventID, const AEAddressDesc& target, int16_t returnID,
                           int32_t transactionID, AppleEvent* result) const;
  OSStatus AESendMessage(const AppleEvent& event, AppleEvent* reply, int32_t sendMode, long timeout);

  // ---- The simulation's side ----
  struct Sent {
    AppleEvent event;
    int32_t sendMode;
  };
  const std::vector<Sent>& sent() const { return sent_; }
  bool restartRequested() const;
  // Told of every restart request (the world on disk keeps it for `mac-sim restart`).
  void setRestartObserver(std::function<void()> observer) { restartObserver_ = std::move(observer); }

 private:
  Transcript& transcript_;
  std::vector<Sent> sent_;
  std::function<void()> restartObserver_;
};

// ---- Login items ----

class LoginItems;

// The principal class of a login-item plug-in bundle.
class LoginItemPlugin {
 public:
  explicit LoginItemPlugin(LoginItems& items) : items_(items) {}
  bool LXAddLoginItem(std::string_view path, bool hidden = false);
  // True when the path was a login item and has been removed.
  bool LXRemoveLoginItem(std::string_view path);

 private:
  LoginItems& items_;
};

class LoginItems {
 public:
  struct Item {
    std::string path;
    bool hidden = false;
  };

  LoginItems(const FileManager& files, Transcript& transcript) : files_(files), transcript_(transcript) {}

  // Loads a plug-in bundle and makes its principal class: nothing when the bundle is missing (or
  // the simulation refuses to load it).
  std::unique_ptr<LoginItemPlugin> loadPlugin(std::string_view bundlePath);

  // ---- The simulation's side ----
  std::vector<Item> items() const;
  void setPluginsLoad(bool load) { pluginsLoad_ = load; }
  // Where the Mac is a world on disk, the user's login items are kept there: every process of that
  // Mac sees them, and they outlive the process that added them.
  struct Store {
    std::function<std::vector<Item>()> read;
    // Changes the items under the store's lock; answers what `change` answered.
    std::function<bool(const std::function<bool(std::vector<Item>&)>& change)> update;
  };
  void setStore(Store store) { store_ = std::move(store); }

 private:
  friend class LoginItemPlugin;
  bool change(const std::function<bool(std::vector<Item>&)>& change);

  const FileManager& files_;
  Transcript& transcript_;
  std::vector<Item> items_;
  Store store_;
  bool pluginsLoad_ = true;
};

}  // namespace mac
