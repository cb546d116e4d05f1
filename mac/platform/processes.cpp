#include "mac/platform/processes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mac/platform/transcript.h"

namespace mac {

// ---- Processes ----

Processes::Processes(Transcript& transcript, Process self) : transcript_(transcript), self_(std::move(self)) {
  self_.command = self_.command.substr(0, kKinfoProcCommSize - 1);
  self_.psn = {0, nextPsn_++};
  start("launchd", {}, 0);
  start("loginwindow", "loginwindow", self_.uid);
  start("Dock", "Dock", self_.uid, "/System/Library/CoreServices/Dock.app");
  start("Finder", "Finder", self_.uid, "/System/Library/CoreServices/Finder.app", true);
  table_.push_back(self_);
}

void Processes::setOutside(Outside outside) {
  outside_ = std::move(outside);
  // What runs already did not start now: nobody is told.
  auto observer = std::move(observer_);
  observer_ = nullptr;
  sync();
  observer_ = std::move(observer);
}

void Processes::sync() const {
  if (!outside_.list) return;
  std::vector<Process> now = outside_.list();
  std::erase_if(now, [this](const Process& p) { return p.pid == self_.pid; });
  // Gone first, then the newcomers in the order the world lists them.
  for (size_t i = 0; i < outsidePids_.size();) {
    const pid_t pid = outsidePids_[i];
    if (std::any_of(now.begin(), now.end(), [pid](const Process& p) { return p.pid == pid; })) {
      ++i;
      continue;
    }
    outsidePids_.erase(outsidePids_.begin() + static_cast<std::ptrdiff_t>(i));
    const auto it = std::find_if(table_.begin(), table_.end(), [pid](const Process& p) { return p.outside && p.pid == pid; });
    if (it == table_.end()) continue;
    const Process gone = *it;
    table_.erase(it);
    if (observer_) observer_(gone, false);
  }
  for (Process& p : now) {
    if (std::find(outsidePids_.begin(), outsidePids_.end(), p.pid) != outsidePids_.end()) continue;
    p.command = p.command.substr(0, kKinfoProcCommSize - 1);
    if (!p.name.empty()) p.psn = {0, nextPsn_++};
    p.outside = true;
    outsidePids_.push_back(p.pid);
    table_.push_back(p);
    if (observer_) observer_(table_.back(), true);
  }
}

pid_t Processes::start(std::string command, std::string name, uid_t uid, std::string bundlePath, bool application) {
  if (outside_.start && application) {
    Process p;
    p.uid = uid;
    p.command = std::move(command);
    p.name = std::move(name);
    p.bundlePath = std::move(bundlePath);
    p.application = true;
    const pid_t pid = outside_.start(p);
    sync();
    return pid;
  }
  Process p;
  p.pid = nextPid_++;
  p.uid = uid;
  p.command = command.substr(0, kKinfoProcCommSize - 1);
  p.name = std::move(name);
  p.bundlePath = std::move(bundlePath);
  p.application = application;
  if (!p.name.empty()) p.psn = {0, nextPsn_++};
  table_.push_back(p);
  if (observer_) observer_(table_.back(), true);
  return p.pid;
}

void Processes::stop(pid_t pid) {
  stopEntry(std::find_if(table_.begin(), table_.end(), [pid](const Process& p) { return p.pid == pid; }));
}

void Processes::stopEntry(std::vector<Process>::iterator entry) {
  if (entry == table_.end() || (!entry->outside && entry->pid == self_.pid)) return;
  if (entry->outside) {
    if (outside_.stop) outside_.stop(entry->pid);
    sync();
    return;
  }
  const Process gone = *entry;
  table_.erase(entry);
  if (observer_) observer_(gone, false);
}

void Processes::logInUser(uid_t uid) { start("Finder", "Finder", uid, "/System/Library/CoreServices/Finder.app", true); }

int Processes::sysctl(std::span<const int> name, void* oldp, size_t* oldlenp) {
  if (name.size() != 3 || name[0] != kCtlKern || name[1] != kKernProc || name[2] != kKernProcAll || !oldlenp) {
    errno = EINVAL;
    return -1;
  }
  sync();
  const size_t needed = table_.size() * kKinfoProcSize;
  if (!oldp) {
    *oldlenp = needed;
    // The table may grow between the question and the fetch.
    for (; growBy_ > 0; --growBy_) start("mdworker", {}, self_.uid);
    return 0;
  }
  if (*oldlenp < needed) {
    errno = ENOMEM;
    return -1;
  }
  auto* out = static_cast<uint8_t*>(oldp);
  std::memset(out, 0, needed);
  for (size_t i = 0; i < table_.size(); ++i) {
    uint8_t* record = out + i * kKinfoProcSize;
    const Process& p = table_[i];
    std::memcpy(record + kKinfoProcPidOffset, &p.pid, sizeof p.pid);
    std::memcpy(record + kKinfoProcCommOffset, p.command.data(), std::min(p.command.size(), kKinfoProcCommSize - 1));
    std::memcpy(record + kKinfoProcUidOffset, &p.uid, sizeof p.uid);
  }
  *oldlenp = needed;
  return 0;
}

const Processes::Process* Processes::byPsn(const ProcessSerialNumber& psn) const {
  sync();
  for (const Process& p : table_) {
    if (!p.name.empty() && p.psn == psn) return &p;
  }
  return nullptr;
}

OSErr Processes::GetNextProcess(ProcessSerialNumber* psn) const {
  if (!psn) return paramErr;
  sync();
  bool take = psn->highLongOfPSN == 0 && psn->lowLongOfPSN == kNoProcess;
  for (const Process& p : table_) {
    if (p.name.empty()) continue;
    if (take) {
      *psn = p.psn;
      return noErr;
    }
    take = p.psn == *psn;
  }
  *psn = {0, kNoProcess};
  return procNotFound;
}

OSStatus Processes::CopyProcessName(const ProcessSerialNumber& psn, std::string* name) const {
  const Process* p = byPsn(psn);
  if (!p || !name) return procNotFound;
  *name = p->name;
  return noErr;
}

OSErr Processes::KillProcess(const ProcessSerialNumber& psn) {
  const Process* p = byPsn(psn);
  if (!p) return procNotFound;
  transcript_.add("process \"" + p->name + "\" ended");
  // By its entry: a process of the world may have the pid of one of this table's own.
  stopEntry(table_.begin() + (p - table_.data()));
  return noErr;
}

OSErr Processes::GetCurrentProcess(ProcessSerialNumber* psn) const {
  if (!psn) return paramErr;
  *psn = self_.psn;
  return noErr;
}

OSErr Processes::SetFrontProcess(const ProcessSerialNumber& psn) {
  const Process* p = byPsn(psn);
  if (!p) return procNotFound;
  front_ = psn;
  transcript_.add("\"" + p->name + "\" brought to the front");
  return noErr;
}

int Processes::system(std::string_view command) {
  shellCommands_.emplace_back(command);
  transcript_.add("shell: " + std::string(command));
  return shell_ ? shell_(command) : 127;
}

// ---- Authorization ----

struct AuthorizationOpaqueRef {};

struct Authorization::Ref {
  AuthorizationOpaqueRef identity;
  std::vector<std::string> rights;
};

Authorization::Authorization(Clock& clock, const FileManager& files, Transcript& transcript)
    : clock_(clock), files_(files), transcript_(transcript) {}

Authorization::~Authorization() = default;

Authorization::Ref* Authorization::find(AuthorizationRef authorization) {
  const auto it = refs_.find(authorization);
  return it == refs_.end() ? nullptr : it->second.get();
}

OSStatus Authorization::AuthorizationCreate(const AuthorizationRights* rights, uint32_t flags, AuthorizationRef* authorization) {
  if (!authorization) return errAuthorizationInvalidRef;
  auto ref = std::make_unique<Ref>();
  const AuthorizationRef handle = &ref->identity;
  refs_.emplace(handle, std::move(ref));
  if (rights && !rights->empty() && (flags & kAuthorizationFlagExtendRights)) {
    const OSStatus status = AuthorizationCopyRights(handle, *rights, flags);
    if (status != errAuthorizationSuccess) {
      refs_.erase(handle);
      *authorization = nullptr;
      return status;
    }
  }
  *authorization = handle;
  return errAuthorizationSuccess;
}

OSStatus Authorization::AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights& rights, uint32_t flags) {
  Ref* ref = find(authorization);
  if (!ref) return errAuthorizationInvalidRef;
  for (const AuthorizationItem& right : rights) {
    if (std::find(ref->rights.begin(), ref->rights.end(), right.name) != ref->rights.end()) continue;
    if (!(flags & kAuthorizationFlagExtendRights)) return errAuthorizationDenied;
    if (!(flags & kAuthorizationFlagInteractionAllowed)) return errAuthorizationInteractionNotAllowed;
    ++questions_;
    OSStatus answer = errAuthorizationSuccess;
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.erase(answers_.begin());
    } else if (nextAnswer_) {
      answer = nextAnswer_().value_or(errAuthorizationSuccess);
    }
    transcript_.add("password asked for " + right.name + ": " +
                    (answer == errAuthorizationSuccess ? "given" : answer == errAuthorizationCanceled ? "cancelled" : "refused"));
    if (answer != errAuthorizationSuccess) return answer;
    ref->rights.push_back(right.name);
  }
  return errAuthorizationSuccess;
}

OSStatus Authorization::AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, std::string_view toolPath,
                                                           const std::vector<std::string>& arguments) {
  Ref* ref = find(authorization);
  if (!ref) return errAuthorizationInvalidRef;
  if (std::find(ref->rights.begin(), ref->rights.end(), kAuthorizationRightExecute) == ref->rights.end()) {
    return errAuthorizationDenied;
  }
  if (!files_.fileExistsAtPath(toolPath)) return errAuthorizationToolExecuteFailure;
  executions_.push_back({std::string(toolPath), arguments});
  transcript_.add("privileged tool " + std::string(toolPath) + " started");
  if (runTool_) return runTool_(toolPath, arguments);
  if (effect_) {
    clock_.scheduleAfter(effectDelay_, [effect = effect_, arguments] { effect(arguments); });
  }
  return errAuthorizationSuccess;
}

OSStatus Authorization::AuthorizationFree(AuthorizationRef authorization, uint32_t) {
  return refs_.erase(authorization) > 0 ? errAuthorizationSuccess : errAuthorizationInvalidRef;
}

void Authorization::setToolEffect(std::function<void(const std::vector<std::string>&)> effect, Milliseconds delay) {
  effect_ = std::move(effect);
  effectDelay_ = delay;
}

// ---- Apple events ----

OSErr AppleEvents::AECreateDesc(OSType type, const ProcessSerialNumber& psn, AEAddressDesc* result) const {
  if (!result || type != typeProcessSerialNumber) return paramErr;
  *result = AEAddressDesc{type, psn};
  return noErr;
}

OSErr AppleEvents::AECreateAppleEvent(OSType eventClass, OSType eventID, const AEAddressDesc& target, int16_t returnID,
                                      int32_t transactionID, AppleEvent* result) const {
  if (!result || target.descriptorType != typeProcessSerialNumber) return paramErr;
  *result = AppleEvent{eventClass, eventID, target, returnID, transactionID};
  return noErr;
}

OSStatus AppleEvents::AESendMessage(const AppleEvent& event, AppleEvent*, int32_t sendMode, long) {
  sent_.push_back({event, sendMode});
  const bool restart = event.eventClass == kCoreEventClass && event.eventID == kAERestart &&
                       event.target.psn == ProcessSerialNumber{0, kSystemProcess};
  transcript_.add(restart ? "restart requested" : "Apple event sent");
  if (restart && restartObserver_) restartObserver_();
  return noErr;
}

bool AppleEvents::restartRequested() const {
  return std::any_of(sent_.begin(), sent_.end(), [](const Sent& s) {
    return s.event.eventClass == kCoreEventClass && s.event.eventID == kAERestart &&
           s.event.target.psn == ProcessSerialNumber{0, kSystemProcess};
  });
}

// ---- Login items ----

std::unique_ptr<LoginItemPlugin> LoginItems::loadPlugin(std::string_view bundlePath) {
  bool folder = false;
  if (!pluginsLoad_ || !files_.fileExistsAtPath(bundlePath, &folder) || !folder) return nullptr;
  return std::make_unique<LoginItemPlugin>(*this);
}

std::vector<LoginItems::Item> LoginItems::items() const { return store_.read ? store_.read() : items_; }

bool LoginItems::change(const std::function<bool(std::vector<Item>&)>& change) {
  return store_.update ? store_.update(change) : change(items_);
}

bool LoginItemPlugin::LXAddLoginItem(std::string_view path, bool hidden) {
  const bool added = items_.change([&](std::vector<LoginItems::Item>& items) {
    if (std::any_of(items.begin(), items.end(), [&](const LoginItems::Item& i) { return i.path == path; })) return false;
    items.push_back({std::string(path), hidden});
    return true;
  });
  if (added) items_.transcript_.add("login item added: " + std::string(path));
  return added;
}

bool LoginItemPlugin::LXRemoveLoginItem(std::string_view path) {
  const bool removed = items_.change([&](std::vector<LoginItems::Item>& items) {
    const auto it = std::find_if(items.begin(), items.end(), [&](const LoginItems::Item& i) { return i.path == path; });
    if (it == items.end()) return false;
    items.erase(it);
    return true;
  });
  if (removed) items_.transcript_.add("login item removed: " + std::string(path));
  return removed;
}

}  // namespace mac
