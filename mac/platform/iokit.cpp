#include "mac/platform/iokit.h"

#include <algorithm>
#include <cstring>
#include <deque>

namespace mac {

MatchingDictionary IOServiceMatching(std::string_view className) { return MatchingDictionary{std::string(className), {}}; }

// ---- TaskMemory ----

TaskMemory::Region::Region(Region&& other) noexcept : memory_(other.memory_), address_(other.address_) {
  other.memory_ = nullptr;
  other.address_ = 0;
}

TaskMemory::Region& TaskMemory::Region::operator=(Region&& other) noexcept {
  if (this != &other) {
    reset();
    memory_ = other.memory_;
    address_ = other.address_;
    other.memory_ = nullptr;
    other.address_ = 0;
  }
  return *this;
}

TaskMemory::Region::~Region() { reset(); }

void TaskMemory::Region::reset() {
  if (memory_ && address_ != 0) memory_->unmap(address_);
  memory_ = nullptr;
  address_ = 0;
}

TaskMemory::Region TaskMemory::map(std::span<uint8_t> bytes) {
  if (bytes.empty()) return Region();
  constexpr uint64_t kPage = 4096;
  constexpr uint64_t kFirst = 0x1000;
  constexpr uint64_t kEnd = 0xFFFFF000;
  const uint64_t size = (bytes.size() + kPage - 1) / kPage * kPage;
  std::lock_guard lock(mutex_);
  // First fit between the buffers mapped already, each kept on its own pages.
  uint64_t at = kFirst;
  for (const auto& [address, region] : regions_) {
    if (at + size <= address) break;
    at = std::max(at, (address + region.size() + kPage - 1) / kPage * kPage);
  }
  if (at + size > kEnd) return Region();
  regions_.emplace(static_cast<uint32_t>(at), bytes);
  return Region(this, static_cast<uint32_t>(at));
}

void TaskMemory::unmap(uint32_t address) {
  std::lock_guard lock(mutex_);
  regions_.erase(address);
}

std::optional<std::span<uint8_t>> TaskMemory::resolve(uint32_t address, uint32_t length) const {
  std::lock_guard lock(mutex_);
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin()) return std::nullopt;
  --it;
  const uint64_t offset = address - it->first;
  if (offset > it->second.size() || length > it->second.size() - offset) return std::nullopt;
  return it->second.subspan(static_cast<size_t>(offset), length);
}

size_t TaskMemory::regionCount() const {
  std::lock_guard lock(mutex_);
  return regions_.size();
}

// ---- The registry ----

struct IOKit::Entry {
  EntryId id = 0;
  std::string name;
  std::string className;
  Properties properties;
  UserClientTarget* userClient = nullptr;
  std::weak_ptr<Entry> parent;
  std::vector<std::shared_ptr<Entry>> children;
  bool registered = true;
};

struct IOKit::Iterator {
  std::deque<std::shared_ptr<Entry>> pending;
  // A notification's iterator.
  bool notification = false;
  bool armed = false;
  IONotificationPort* port = nullptr;
  std::string type;
  MatchingDictionary matching;
  IOServiceMatchingCallback callback = nullptr;
  void* refCon = nullptr;
  io_iterator_t name = 0;
};

struct IOKit::Connection {
  std::shared_ptr<Entry> provider;
};

struct IOKit::Handle {
  uint32_t references = 1;
  std::shared_ptr<Entry> entry;
  std::shared_ptr<Iterator> iterator;
  std::shared_ptr<Connection> connection;
};

class IONotificationPort {
 public:
  RunLoopSource source;
};

IOKit::IOKit() : root_(std::make_shared<Entry>()) {
  root_->name = "Root";
  root_->className = "IORegistryEntry";
}

IOKit::~IOKit() = default;

kern_return_t IOKit::IOMasterPort(mach_port_t, mach_port_t* masterPort) {
  if (!masterPort) return kIOReturnBadArgument;
  *masterPort = kMasterPort;
  return KERN_SUCCESS;
}

io_object_t IOKit::newHandle(Handle handle) {
  const io_object_t name = nextName_++;
  handles_.emplace(name, std::move(handle));
  return name;
}

IOKit::Handle* IOKit::find(io_object_t name) {
  const auto it = handles_.find(name);
  return it == handles_.end() ? nullptr : &it->second;
}

std::shared_ptr<IOKit::Entry> IOKit::entryOf(io_object_t name) {
  Handle* handle = find(name);
  return handle ? handle->entry : nullptr;
}

io_object_t IOKit::nameFor(const std::shared_ptr<Entry>& entry) {
  // One name per object, as a task holds one send right per port.
  if (const auto it = entryNames_.find(entry.get()); it != entryNames_.end()) {
    ++handles_.at(it->second).references;
    return it->second;
  }
  Handle handle;
  handle.entry = entry;
  const io_object_t name = newHandle(std::move(handle));
  entryNames_.emplace(entry.get(), name);
  return name;
}

bool IOKit::matches(const Entry& entry, const MatchingDictionary& matching) {
  if (entry.className != matching.providerClass) return false;
  return std::all_of(matching.properties.begin(), matching.properties.end(), [&](const auto& wanted) {
    const auto it = entry.properties.find(wanted.first);
    return it != entry.properties.end() && it->second == wanted.second;
  });
}

void IOKit::collect(const std::shared_ptr<Entry>& from, const MatchingDictionary& matching,
                    std::vector<std::shared_ptr<Entry>>& out) const {
  if (from->registered && matches(*from, matching)) out.push_back(from);
  for (const auto& child : from->children) collect(child, matching, out);
}

kern_return_t IOKit::IOServiceGetMatchingServices(mach_port_t, const MatchingDictionary& matching, io_iterator_t* existing) {
  if (!existing) return kIOReturnBadArgument;
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Entry>> found;
  collect(root_, matching, found);
  Handle handle;
  handle.iterator = std::make_shared<Iterator>();
  handle.iterator->pending.assign(found.begin(), found.end());
  *existing = newHandle(std::move(handle));
  return KERN_SUCCESS;
}

io_object_t IOKit::IOIteratorNext(io_iterator_t iterator) {
  std::lock_guard lock(mutex_);
  Handle* handle = find(iterator);
  if (!handle || !handle->iterator) return 0;
  Iterator& it = *handle->iterator;
  if (it.pending.empty()) {
    // Drained: the next match is announced again.
    if (it.notification) it.armed = true;
    return 0;
  }
  const std::shared_ptr<Entry> entry = it.pending.front();
  it.pending.pop_front();
  return nameFor(entry);
}

kern_return_t IOKit::IOObjectRetain(io_object_t object) {
  std::lock_guard lock(mutex_);
  Handle* handle = find(object);
  if (!handle) return kIOReturnBadArgument;
  ++handle->references;
  return KERN_SUCCESS;
}

kern_return_t IOKit::IOObjectRelease(io_object_t object) {
  UserClientTarget* closed = nullptr;
  {
    std::lock_guard lock(mutex_);
    Handle* handle = find(object);
    if (!handle) return kIOReturnBadArgument;
    if (--handle->references > 0) return KERN_SUCCESS;
    if (handle->entry) entryNames_.erase(handle->entry.get());
    if (handle->connection) closed = handle->connection->provider->userClient;
    handles_.erase(object);
  }
  // Dropping a connection's last reference closes it.
  if (closed) closed->released();
  return KERN_SUCCESS;
}

kern_return_t IOKit::IORegistryEntryGetName(io_registry_entry_t entry, std::string* name) {
  std::lock_guard lock(mutex_);
  const auto e = entryOf(entry);
  if (!e || !name) return kIOReturnBadArgument;
  *name = e->name;
  return KERN_SUCCESS;
}

kern_return_t IOKit::IOObjectGetClass(io_object_t object, std::string* className) {
  std::lock_guard lock(mutex_);
  const auto e = entryOf(object);
  if (!e || !className) return kIOReturnBadArgument;
  *className = e->className;
  return KERN_SUCCESS;
}

kern_return_t IOKit::IORegistryEntryCreateCFProperties(io_registry_entry_t entry, Properties* properties) {
  std::lock_guard lock(mutex_);
  const auto e = entryOf(entry);
  if (!e || !properties) return kIOReturnBadArgument;
  *properties = e->properties;
  return KERN_SUCCESS;
}

std::optional<PropertyValue> IOKit::IORegistryEntryCreateCFProperty(io_registry_entry_t entry, std::string_view key) {
  std::lock_guard lock(mutex_);
  const auto e = entryOf(entry);
  if (!e) return std::nullopt;
  const auto it = e->properties.find(key);
  if (it == e->properties.end()) return std::nullopt;
  return it->second;
}

kern_return_t IOKit::IORegistryEntryGetChildIterator(io_registry_entry_t entry, std::string_view plane, io_iterator_t* iterator) {
  std::lock_guard lock(mutex_);
  const auto e = entryOf(entry);
  if (!e || !iterator || plane != kIOServicePlane) return kIOReturnBadArgument;
  Handle handle;
  handle.iterator = std::make_shared<Iterator>();
  for (const auto& child : e->children) {
    if (child->registered) handle.iterator->pending.push_back(child);
  }
  *iterator = newHandle(std::move(handle));
  return KERN_SUCCESS;
}

kern_return_t IOKit::IORegistryEntryGetChildEntry(io_registry_entry_t entry, std::string_view plane, io_registry_entry_t* child) {
  std::lock_guard lock(mutex_);
  const auto e = entryOf(entry);
  if (!e || !child || plane != kIOServicePlane) return kIOReturnBadArgument;
  for (const auto& c : e->children) {
    if (!c->registered) continue;
    *child = nameFor(c);
    return KERN_SUCCESS;
  }
  return kIOReturnNoDevice;
}

// ---- Notifications ----

IONotificationPortRef IOKit::IONotificationPortCreate(mach_port_t) {
  std::lock_guard lock(mutex_);
  ports_.push_back(std::make_unique<IONotificationPort>());
  return ports_.back().get();
}

void IOKit::IONotificationPortDestroy(IONotificationPortRef port) {
  std::unique_ptr<IONotificationPort> doomed;
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(ports_.begin(), ports_.end(), [port](const auto& p) { return p.get() == port; });
    if (it == ports_.end()) return;
    doomed = std::move(*it);
    ports_.erase(it);
    for (auto& [name, handle] : handles_) {
      if (handle.iterator && handle.iterator->port == port) handle.iterator->port = nullptr;
    }
  }
  // Leaves the run loop with whatever it had not delivered yet.
}

RunLoopSource* IOKit::IONotificationPortGetRunLoopSource(IONotificationPortRef port) {
  std::lock_guard lock(mutex_);
  for (const auto& p : ports_) {
    if (p.get() == port) return &p->source;
  }
  return nullptr;
}

kern_return_t IOKit::IOServiceAddMatchingNotification(IONotificationPortRef port, std::string_view type,
                                                       const MatchingDictionary& matching,
                                                       IOServiceMatchingCallback callback, void* refCon,
                                                       io_iterator_t* notification) {
  std::lock_guard lock(mutex_);
  const bool known = std::any_of(ports_.begin(), ports_.end(), [port](const auto& p) { return p.get() == port; });
  if (!known || !callback || !notification) return kIOReturnBadArgument;
  if (type != kIOFirstMatchNotification && type != kIOTerminatedNotification) return kIOReturnUnsupported;
  auto it = std::make_shared<Iterator>();
  it->notification = true;
  it->port = port;
  it->type = std::string(type);
  it->matching = matching;
  it->callback = callback;
  it->refCon = refCon;
  if (type == kIOFirstMatchNotification) {
    std::vector<std::shared_ptr<Entry>> found;
    collect(root_, matching, found);
    it->pending.assign(found.begin(), found.end());
  }
  Handle handle;
  handle.iterator = it;
  it->name = newHandle(std::move(handle));
  *notification = it->name;
  return KERN_SUCCESS;
}

void IOKit::notify(std::string_view type, const std::vector<std::shared_ptr<Entry>>& entries) {
  for (auto& [name, handle] : handles_) {
    const auto& it = handle.iterator;
    if (!it || !it->notification || it->type != type || !it->port) continue;
    bool added = false;
    for (const auto& entry : entries) {
      // Terminated entries are matched as they were.
      if (!matches(*entry, it->matching)) continue;
      it->pending.push_back(entry);
      added = true;
    }
    if (!added || !it->armed) continue;
    it->armed = false;
    it->port->source.signal([weak = std::weak_ptr<Iterator>(it), callback = it->callback, refCon = it->refCon,
                             iterator = it->name] {
      // Nothing when the program has released the notification meanwhile.
      if (weak.lock()) callback(refCon, iterator);
    });
  }
}

// ---- The registry's changes ----

std::shared_ptr<IOKit::Entry> IOKit::build(const std::shared_ptr<Entry>& parent, const EntryShape& shape) {
  auto entry = std::make_shared<Entry>();
  entry->id = nextEntryId_++;
  entry->name = shape.name;
  entry->className = shape.className;
  entry->properties = shape.properties;
  entry->userClient = shape.userClient;
  entry->parent = parent;
  entries_.emplace(entry->id, entry);
  parent->children.push_back(entry);
  for (const EntryShape& child : shape.children) build(entry, child);
  return entry;
}

namespace {
template <typename EntryPtr>
void Subtree(const EntryPtr& entry, std::vector<EntryPtr>& out) {
  out.push_back(entry);
  for (const auto& child : entry->children) Subtree(child, out);
}
}  // namespace

IOKit::EntryId IOKit::publish(EntryId parent, const EntryShape& shape) {
  std::lock_guard lock(mutex_);
  std::shared_ptr<Entry> above = root_;
  if (parent != 0) {
    const auto it = entries_.find(parent);
    above = it == entries_.end() ? nullptr : it->second.lock();
  }
  if (!above || !above->registered) return 0;
  const auto entry = build(above, shape);
  std::vector<std::shared_ptr<Entry>> added;
  Subtree(entry, added);
  notify(kIOFirstMatchNotification, added);
  return entry->id;
}

void IOKit::terminate(EntryId id) {
  std::lock_guard lock(mutex_);
  const auto found = entries_.find(id);
  const auto entry = found == entries_.end() ? nullptr : found->second.lock();
  if (!entry || !entry->registered) return;
  std::vector<std::shared_ptr<Entry>> gone;
  Subtree(entry, gone);
  for (const auto& e : gone) {
    e->registered = false;
    e->userClient = nullptr;
    entries_.erase(e->id);
  }
  if (const auto parent = entry->parent.lock()) std::erase(parent->children, entry);
  notify(kIOTerminatedNotification, gone);
  // What the program still holds stays readable, without the tree below it.
  for (const auto& e : gone) e->children.clear();
}

bool IOKit::isRegistered(EntryId id) const {
  std::lock_guard lock(mutex_);
  const auto it = entries_.find(id);
  const auto entry = it == entries_.end() ? nullptr : it->second.lock();
  return entry && entry->registered;
}

size_t IOKit::objectsHeld() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

size_t IOKit::openConnections() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(handles_.begin(), handles_.end(), [](const auto& h) { return h.second.connection != nullptr; }));
}

size_t IOKit::notificationPorts() const {
  std::lock_guard lock(mutex_);
  return ports_.size();
}

// ---- The user client ----

kern_return_t IOKit::IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type, io_connect_t* connect) {
  std::lock_guard lock(mutex_);
  const auto entry = entryOf(service);
  if (!entry || !connect || owningTask != kTaskSelf) return kIOReturnBadArgument;
  if (!entry->registered) return kIOReturnNoDevice;
  if (!entry->userClient) return kIOReturnUnsupported;
  if (type != 0) return kIOReturnBadArgument;
  Handle handle;
  handle.connection = std::make_shared<Connection>(Connection{entry});
  *connect = newHandle(std::move(handle));
  return kIOReturnSuccess;
}

kern_return_t IOKit::IOServiceClose(io_connect_t connect) {
  UserClientTarget* target = nullptr;
  {
    std::lock_guard lock(mutex_);
    Handle* handle = find(connect);
    if (!handle || !handle->connection) return kIOReturnBadArgument;
    target = handle->connection->provider->userClient;
    handles_.erase(connect);
  }
  if (target) target->released();
  return kIOReturnSuccess;
}

kern_return_t IOKit::IOConnectCallStructMethod(io_connect_t connect, uint32_t selector, const void* input, size_t inputSize,
                                                void* output, size_t* outputSize) {
  UserClientTarget* target = nullptr;
  {
    std::lock_guard lock(mutex_);
    Handle* handle = find(connect);
    if (!handle || !handle->connection) return kIOReturnBadArgument;
    const auto& provider = handle->connection->provider;
    if (!provider->registered || !provider->userClient) return kIOReturnNoDevice;
    target = provider->userClient;
  }
  constexpr uint32_t kSelector = 2;
  constexpr size_t kRequestSize = 40;
  constexpr size_t kStatusSize = 4;
  if (selector != kSelector) return kIOReturnUnsupported;
  if (!input || inputSize != kRequestSize || !output || !outputSize || *outputSize < kStatusSize) return kIOReturnBadArgument;

  uint32_t words[10];
  std::memcpy(words, input, sizeof words);
  const uint32_t direction = words[0];
  const uint32_t cdbLength = words[1];
  if ((direction != 0x80 && direction != 0x00 && direction != 0xFF) || cdbLength == 0 || cdbLength > 12) {
    return kIOReturnBadArgument;
  }
  uint8_t cdb[12];
  std::memcpy(cdb, &words[2], sizeof cdb);
  const uint32_t transferLength = words[6];
  std::span<uint8_t> data;
  if (direction != 0xFF && transferLength > 0) {
    // The driver reaches only what the caller mapped, and all of it must be there.
    const auto buffer = taskMemory_.resolve(words[7], transferLength);
    if (!buffer) return kIOReturnBadArgument;
    data = *buffer;
  }
  const auto outcome = target->execute(std::span(cdb, cdbLength), direction == 0x00 ? data : std::span<uint8_t>(),
                                       direction == 0x80 ? data : std::span<uint8_t>());

  constexpr uint32_t kSenseSize = 18;
  if (words[8] > 0 && words[9] != 0) {
    if (const auto sense = taskMemory_.resolve(words[9], std::min(words[8], kSenseSize))) {
      std::fill(sense->begin(), sense->end(), uint8_t{0});
      if (outcome == UserClientTarget::Outcome::CheckCondition && sense->size() >= 14) {
        (*sense)[0] = 0x70;  // current error, fixed format
        (*sense)[2] = 0x05;  // illegal request
        (*sense)[7] = 10;
        (*sense)[12] = 0x24;  // invalid field in the command block
      }
    }
  }
  const uint32_t status = outcome == UserClientTarget::Outcome::Good ? 0 : outcome == UserClientTarget::Outcome::CheckCondition ? 2 : 1;
  std::memcpy(output, &status, kStatusSize);
  *outputSize = kStatusSize;
  switch (outcome) {
    case UserClientTarget::Outcome::Good: return kIOReturnSuccess;
    case UserClientTarget::Outcome::CheckCondition: return kIOReturnIOError;
    case UserClientTarget::Outcome::TimedOut: return kIOReturnTimeout;
    case UserClientTarget::Outcome::NoDevice: return kIOReturnNoDevice;
  }
  return kIOReturnError;
}

}  // namespace mac
