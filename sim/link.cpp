#include "sim/link.h"

namespace sim {

Reply MemoryLink::Execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn) {
  return recorder_.Execute(cdb, dataOut, dataIn, now_());
}
bool MemoryLink::Attached() {
  recorder_.Tick(now_());
  return recorder_.attached;
}
bool MemoryLink::VolumeMounted() { return Attached() && recorder_.volumeMounted; }
void MemoryLink::Released() { recorder_.HostReleased(now_()); }

Reply StoreLink::Execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn) {
  Reply reply{Status::NoDevice, 0};
  // A state file that cannot be read is a recorder that is not there.
  store_.Update(
      [&](Recorder& r) {
        reply = r.Execute(cdb, dataOut, dataIn, WallClockMs());
        return true;
      },
      error_);
  return reply;
}

bool StoreLink::Attached() {
  Recorder r;
  if (!store_.Read(r, error_)) return false;
  r.Tick(WallClockMs());
  return r.attached;
}

bool StoreLink::VolumeMounted() {
  Recorder r;
  if (!store_.Read(r, error_)) return false;
  r.Tick(WallClockMs());
  return r.attached && r.volumeMounted;
}

void StoreLink::Released() {
  store_.Update(
      [](Recorder& r) {
        r.HostReleased(WallClockMs());
        return true;
      },
      error_);
}

}  // namespace sim
