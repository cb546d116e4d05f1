#pragma once
// IOKit as the Mac updater uses it: the registry of services (each entry with a name, a class and
// properties, in the IOService plane), matching by class and properties, first-match and terminate
// notifications through iterators that a notification port hands to the run loop, and the user
// client of the recorder driver's block-commands service.
//
// Objects are names (io_object_t) with reference counts, as in IOKit: every name a call hands out
// is the caller's to release with IOObjectRelease, and a notification is delivered again only once
// its iterator has been drained. The simulation counts what the program holds, so tests can see a
// leak. ScopedIOObject releases a name when it goes out of scope.
//
// The driver's request carries the addresses of the data and sense buffers as 32-bit words, as the
// programs were 32-bit. TaskMemory stands for that address space: a buffer is mapped for as long as
// its Region lives, and the driver reaches it only through the address the Region gives.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mac/platform/runloop.h"

namespace mac {

using kern_return_t = int32_t;
using IOReturn = kern_return_t;
using mach_port_t = uint32_t;
using task_port_t = mach_port_t;
using io_object_t = mach_port_t;
using io_service_t = io_object_t;
using io_iterator_t = io_object_t;
using io_registry_entry_t = io_object_t;
using io_connect_t = io_object_t;

inline constexpr mach_port_t MACH_PORT_NULL = 0;
inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr IOReturn kIOReturnSuccess = 0;
inline constexpr IOReturn kIOReturnError = static_cast<IOReturn>(0xE00002BC);
inline constexpr IOReturn kIOReturnNoDevice = static_cast<IOReturn>(0xE00002C0);
inline constexpr IOReturn kIOReturnBadArgument = static_cast<IOReturn>(0xE00002C2);
inline constexpr IOReturn kIOReturnUnsupported = static_cast<IOReturn>(0xE00002C7);
inline constexpr IOReturn kIOReturnIOError = static_cast<IOReturn>(0xE00002CA);
inline constexpr IOReturn kIOReturnNotOpen = static_cast<IOReturn>(0xE00002CD);
inline constexpr IOReturn kIOReturnTimeout = static_cast<IOReturn>(0xE00002D6);
inline constexpr IOReturn kIOReturnNoResources = static_cast<IOReturn>(0xE00002BE);

inline constexpr std::string_view kIOServicePlane = "IOService";
inline constexpr std::string_view kIOFirstMatchNotification = "IOServiceFirstMatch";
inline constexpr std::string_view kIOTerminatedNotification = "IOServiceTerminate";

// A property: CFNumber or CFString.
using PropertyValue = std::variant<int64_t, std::string>;
using Properties = std::map<std::string, PropertyValue, std::less<>>;

// A matching dictionary: the provider class, and properties that must be equal.
struct MatchingDictionary {
  std::string providerClass;
  Properties properties;
};
MatchingDictionary IOServiceMatching(std::string_view className);

using IOServiceMatchingCallback = void (*)(void* refCon, io_iterator_t iterator);

class IONotificationPort;
using IONotificationPortRef = IONotificationPort*;

class TaskMemory {
 public:
  class Region {
   public:
    Region() = default;
    Region(Region&& other) noexcept;
    Region& operator=(Region&& other) noexcept;
    Region(const Region&) = delete;
    Region& operator=(const Region&) = delete;
    ~Region();
    // 0 for an empty buffer, or when the address space is full.
    uint32_t address() const { return address_; }

   private:
    friend class TaskMemory;
    Region(TaskMemory* memory, uint32_t address) : memory_(memory), address_(address) {}
    void reset();
    TaskMemory* memory_ = nullptr;
    uint32_t address_ = 0;
  };

  Region map(std::span<uint8_t> bytes);
  // The bytes from `address` on, `length` of them, when one mapped buffer holds them all.
  std::optional<std::span<uint8_t>> resolve(uint32_t address, uint32_t length) const;
  size_t regionCount() const;

 private:
  void unmap(uint32_t address);
  mutable std::mutex mutex_;
  std::map<uint32_t, std::span<uint8_t>> regions_;
};

// What stands behind the block-commands service: the recorder, through its driver.
class UserClientTarget {
 public:
  enum class Outcome { Good, CheckCondition, TimedOut, NoDevice };
  virtual ~UserClientTarget() = default;
  // One command, as the driver hands it to the device; `dataIn` receives the reply.
  virtual Outcome execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn) = 0;
  // The program closed its connection.
  virtual void released() = 0;
};

class IOKit {
 public:
  IOKit();
  IOKit(const IOKit&) = delete;
  IOKit& operator=(const IOKit&) = delete;
  ~IOKit();

  kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);
  task_port_t mach_task_self() const { return kTaskSelf; }

  // Consumes nothing: the dictionary is copied.
  kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, const MatchingDictionary& matching,
                                             io_iterator_t* existing);
  // The next object, or 0 at the end (which arms a notification's iterator).
  io_object_t IOIteratorNext(io_iterator_t iterator);
  kern_return_t IOObjectRetain(io_object_t object);
  kern_return_t IOObjectRelease(io_object_t object);

  kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, std::string* name);
  kern_return_t IOObjectGetClass(io_object_t object, std::string* className);
  kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t entry, Properties* properties);
  std::optional<PropertyValue> IORegistryEntryCreateCFProperty(io_registry_entry_t entry, std::string_view key);
  kern_return_t IORegistryEntryGetChildIterator(io_registry_entry_t entry, std::string_view plane, io_iterator_t* iterator);
  kern_return_t IORegistryEntryGetChildEntry(io_registry_entry_t entry, std::string_view plane, io_registry_entry_t* child);

  IONotificationPortRef IONotificationPortCreate(mach_port_t masterPort);
  void IONotificationPortDestroy(IONotificationPortRef port);
  // The port's source, to add to a run loop (CFRunLoopAddSource).
  RunLoopSource* IONotificationPortGetRunLoopSource(IONotificationPortRef port);
  // Registers for kIOFirstMatchNotification or kIOTerminatedNotification. The iterator holds the
  // services that already match (first match) and must be drained before the callback is called.
  kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, std::string_view type,
                                                 const MatchingDictionary& matching, IOServiceMatchingCallback callback,
                                                 void* refCon, io_iterator_t* notification);

  kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, uint32_t type, io_connect_t* connect);
  kern_return_t IOServiceClose(io_connect_t connect);
  // Selector 2 of the block-commands user client: the 40-byte request (ten 32-bit words in host
  // order) in, a 4-byte status word out. Safe from any thread.
  kern_return_t IOConnectCallStructMethod(io_connect_t connect, uint32_t selector, const void* input, size_t inputSize,
                                          void* output, size_t* outputSize);
  kern_return_t IOConnectMethodStructureIStructureO(io_connect_t connect, uint32_t selector, size_t inputSize,
                                                    size_t* outputSize, const void* input, void* output) {
    return IOConnectCallStructMethod(connect, selector, input, inputSize, output, outputSize);
  }

  TaskMemory& taskMemory() { return taskMemory_; }

  // ---- The simulation's side: the registry and what the program holds ----
  struct EntryShape {
    std::string name;
    std::string className;
    Properties properties;
    UserClientTarget* userClient = nullptr;  // the entry can be opened with IOServiceOpen
    std::vector<EntryShape> children;
  };
  using EntryId = uint64_t;
  // Publishes the entries below `parent` (0: the root), running first-match notifications. The id
  // of the top entry.
  EntryId publish(EntryId parent, const EntryShape& shape);
  // Terminates the entry with everything below it, running terminate notifications.
  void terminate(EntryId entry);
  bool isRegistered(EntryId entry) const;
  // Objects (entries, iterators, connections) the program holds references to, and its open
  // connections and notification ports.
  size_t objectsHeld() const;
  size_t openConnections() const;
  size_t notificationPorts() const;

  static constexpr task_port_t kTaskSelf = 0x103;
  static constexpr mach_port_t kMasterPort = 0xB03;

 private:
  struct Entry;
  struct Iterator;
  struct Connection;
  struct Handle;
  io_object_t nameFor(const std::shared_ptr<Entry>& entry);
  io_object_t newHandle(Handle handle);
  Handle* find(io_object_t name);
  std::shared_ptr<Entry> entryOf(io_object_t name);
  void collect(const std::shared_ptr<Entry>& from, const MatchingDictionary& matching,
               std::vector<std::shared_ptr<Entry>>& out) const;
  std::shared_ptr<Entry> build(const std::shared_ptr<Entry>& parent, const EntryShape& shape);
  void notify(std::string_view type, const std::vector<std::shared_ptr<Entry>>& entries);
  // By class and properties, whether registered or not.
  static bool matches(const Entry& entry, const MatchingDictionary& matching);

  TaskMemory taskMemory_;
  mutable std::recursive_mutex mutex_;
  std::shared_ptr<Entry> root_;
  EntryId nextEntryId_ = 1;
  std::map<EntryId, std::weak_ptr<Entry>> entries_;
  std::map<io_object_t, Handle> handles_;
  std::map<const Entry*, io_object_t> entryNames_;
  io_object_t nextName_ = 0x1003;
  std::vector<std::unique_ptr<IONotificationPort>> ports_;
};

// Owns one reference to an IOKit object.
class ScopedIOObject {
 public:
  ScopedIOObject() = default;
  ScopedIOObject(IOKit& iokit, io_object_t object) : iokit_(&iokit), object_(object) {}
  ScopedIOObject(ScopedIOObject&& other) noexcept : iokit_(other.iokit_), object_(other.release()) {}
  ScopedIOObject& operator=(ScopedIOObject&& other) noexcept {
    if (this != &other) {
      reset();
      iokit_ = other.iokit_;
      object_ = other.release();
    }
    return *this;
  }
  ScopedIOObject(const ScopedIOObject&) = delete;
  ScopedIOObject& operator=(const ScopedIOObject&) = delete;
  ~ScopedIOObject() { reset(); }

  io_object_t get() const { return object_; }
  explicit operator bool() const { return object_ != 0; }
  io_object_t release() {
    const io_object_t object = object_;
    object_ = 0;
    return object;
  }
  void reset() {
    if (object_ != 0 && iokit_) iokit_->IOObjectRelease(object_);
    object_ = 0;
  }

 private:
  IOKit* iokit_ = nullptr;
  io_object_t object_ = 0;
};

}  // namespace mac
