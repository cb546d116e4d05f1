#include "sim/state_file.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <chrono>
#include <map>

#include "sim/locked_file.h"

namespace sim {

namespace {

constexpr std::string_view kMagic = "ZT5100-SIM 1";
constexpr std::string_view kEndOfHead = "--";
// Larger flash than this is not a recorder of this family; it also bounds what a damaged file can ask for.
constexpr uint64_t kMaxFlash = 64u << 20;

void Put(std::string& head, std::string_view key, const std::string& value) {
  head.append(key).append("=").append(value).append("\n");
}
void Put(std::string& head, std::string_view key, uint64_t value) { Put(head, key, std::to_string(value)); }

// Texts end at the line; a line break inside one would split the head, so it is dropped.
std::string Flat(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\n' && c != '\r') out.push_back(c);
  }
  return out;
}

std::string Join(std::initializer_list<uint64_t> values) {
  std::string out;
  for (uint64_t v : values) {
    if (!out.empty()) out.push_back(',');
    out += std::to_string(v);
  }
  return out;
}

bool Number(std::string_view text, uint64_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// Comma-separated numbers; `count` of them exactly.
bool Numbers(std::string_view text, size_t count, std::vector<uint64_t>& out) {
  out.clear();
  size_t start = 0;
  while (out.size() < count) {
    const size_t comma = text.find(',', start);
    uint64_t v = 0;
    if (!Number(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start), v)) return false;
    out.push_back(v);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out.size() == count && text.find(',', start) == std::string_view::npos;
}

// Files written before these keys existed hold complete images and blank-padded models, which is
// what a recorder starts with.
const char* ImageText(const Processor& p) { return p.imageComplete ? "complete" : "incomplete"; }
bool ParseImage(std::string_view text, Processor& p) {
  if (text != "complete" && text != "incomplete") return false;
  p.imageComplete = text == "complete";
  return true;
}

template <class T>
bool Narrow(uint64_t value, T& out) {
  if (value > std::numeric_limits<T>::max()) return false;
  out = static_cast<T>(value);
  return true;
}

}  // namespace

std::vector<uint8_t> SerializeRecorder(const Recorder& r) {
  std::string head(kMagic);
  head += "\n";
  Put(head, "vendor", Flat(r.vendor));
  Put(head, "product", Flat(r.product));
  Put(head, "model", Flat(r.model));
  Put(head, "model-padding", std::string(ModelPaddingText(r.modelPadding)));
  Put(head, "device-id", r.deviceId);
  Put(head, "storage-size", r.storageSize);
  Put(head, "serial", r.serial);
  Put(head, "mode-byte", r.modeByte);
  Put(head, "prepare-steps", r.prepareSteps);
  Put(head, "main-version", Flat(r.main.version));
  Put(head, "main-flash", r.main.flash.size());
  Put(head, "main-image", std::string(ImageText(r.main)));
  Put(head, "sub-version", Flat(r.sub.version));
  Put(head, "sub-flash", r.sub.flash.size());
  Put(head, "sub-image", std::string(ImageText(r.sub)));
  if (!r.pollScript.empty()) {
    std::string script;
    for (uint16_t v : r.pollScript) {
      if (!script.empty()) script += ',';
      script += std::to_string(v);
    }
    Put(head, "poll-script", script);
  }
  Put(head, "presence", Join({r.attached, r.returnsAtMs, r.volumeMounted, r.generation}));
  Put(head, "delays", Join({r.modeSwitchDelayMs, r.restartDelayMs}));
  Put(head, "switch-linger", Join({r.modeSwitchLingerMs, r.leavesAtMs}));
  const UpdateSession& s = r.session;
  Put(head, "session", Join({s.active, s.target, s.start, s.length, s.steps, s.remaining, s.finished, s.verifying,
                             s.verifyStart, s.verifyLength, s.verifyOffset, s.received}));
  const LastUpdate& l = r.last;
  Put(head, "last", Join({l.present, l.target, l.start, l.length, l.readBack}));
  Put(head, "last-image-version", Flat(l.imageVersion));
  for (const Fault& f : r.faults) Put(head, "fault", std::to_string(f.seen) + " " + FaultText(f));
  for (const auto& entry : r.log) Put(head, "log", Flat(entry));
  head.append(kEndOfHead).append("\n");

  std::vector<uint8_t> bytes(head.begin(), head.end());
  bytes.insert(bytes.end(), r.main.flash.begin(), r.main.flash.end());
  bytes.insert(bytes.end(), r.sub.flash.begin(), r.sub.flash.end());
  return bytes;
}

bool ParseRecorder(std::span<const uint8_t> bytes, Recorder& out, std::string& error) {
  Recorder r;
  r.log.clear();
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  size_t pos = 0;
  auto nextLine = [&](std::string_view& line) {
    const size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) return false;
    line = text.substr(pos, end - pos);
    pos = end + 1;
    return true;
  };

  std::string_view line;
  if (!nextLine(line) || line != kMagic) {
    error = "not a simulated recorder's state file";
    return false;
  }
  uint64_t mainSize = 0, subSize = 0;
  bool ended = false;
  while (nextLine(line)) {
    if (line == kEndOfHead) {
      ended = true;
      break;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      error = "a head line without '=': " + std::string(line.substr(0, 40));
      return false;
    }
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);
    uint64_t n = 0;
    std::vector<uint64_t> v;
    bool ok = true;
    if (key == "vendor") r.vendor = value;
    else if (key == "product") r.product = value;
    else if (key == "model") r.model = value;
    else if (key == "main-version") r.main.version = value;
    else if (key == "sub-version") r.sub.version = value;
    else if (key == "last-image-version") r.last.imageVersion = value;
    else if (key == "log") r.log.emplace_back(value);
    else if (key == "device-id") ok = Number(value, n) && Narrow(n, r.deviceId);
    else if (key == "storage-size") ok = Number(value, r.storageSize);
    else if (key == "serial") ok = Number(value, r.serial);
    else if (key == "mode-byte") ok = Number(value, n) && Narrow(n, r.modeByte);
    else if (key == "prepare-steps") ok = Number(value, n) && Narrow(n, r.prepareSteps);
    else if (key == "model-padding") ok = ParseModelPadding(value, r.modelPadding);
    else if (key == "main-image") ok = ParseImage(value, r.main);
    else if (key == "sub-image") ok = ParseImage(value, r.sub);
    else if (key == "main-flash") ok = Number(value, mainSize) && mainSize <= kMaxFlash;
    else if (key == "sub-flash") ok = Number(value, subSize) && subSize <= kMaxFlash;
    else if (key == "poll-script") {
      const size_t count = static_cast<size_t>(std::count(value.begin(), value.end(), ',')) + 1;
      ok = count <= 1024 && Numbers(value, count, v);
      for (uint64_t x : v) ok = ok && x <= 0xFFFF;
      if (ok) for (uint64_t x : v) r.pollScript.push_back(static_cast<uint16_t>(x));
    } else if (key == "presence") {
      ok = Numbers(value, 4, v) && v[0] <= 1 && v[2] <= 1 && Narrow(v[3], r.generation);
      if (ok) r.attached = v[0], r.returnsAtMs = v[1], r.volumeMounted = v[2];
    } else if (key == "delays") {
      ok = Numbers(value, 2, v) && Narrow(v[0], r.modeSwitchDelayMs) && Narrow(v[1], r.restartDelayMs);
    } else if (key == "switch-linger") {
      ok = Numbers(value, 2, v) && Narrow(v[0], r.modeSwitchLingerMs);
      if (ok) r.leavesAtMs = v[1];
    } else if (key == "session") {
      UpdateSession& s = r.session;
      ok = Numbers(value, 12, v) && v[0] <= 1 && v[1] <= 1 && v[6] <= 1 && v[7] <= 1 && Narrow(v[2], s.start) &&
           Narrow(v[3], s.length) && Narrow(v[4], s.steps) && Narrow(v[5], s.remaining) && Narrow(v[8], s.verifyStart) &&
           Narrow(v[9], s.verifyLength) && Narrow(v[10], s.verifyOffset) && Narrow(v[11], s.received) &&
           s.received <= s.length;
      if (ok) s.active = v[0], s.target = static_cast<uint8_t>(v[1]), s.finished = v[6], s.verifying = v[7];
    } else if (key == "last") {
      LastUpdate& l = r.last;
      ok = Numbers(value, 5, v) && v[0] <= 1 && v[1] <= 1 && v[4] <= 1 && Narrow(v[2], l.start) && Narrow(v[3], l.length);
      if (ok) l.present = v[0], l.target = static_cast<uint8_t>(v[1]), l.readBack = v[4];
    } else if (key == "fault") {
      const size_t blank = value.find(' ');
      Fault f;
      std::string why;
      ok = blank != std::string_view::npos && Number(value.substr(0, blank), n) && Narrow(n, f.seen) &&
           [&] {
             const uint32_t seen = f.seen;
             const bool parsed = ParseFault(value.substr(blank + 1), f, why);
             f.seen = seen;
             return parsed;
           }();
      if (ok) r.faults.push_back(f);
    }
    // Unknown keys come from a newer tool; they are skipped.
    if (!ok) {
      error = "a damaged value for \"" + std::string(key) + "\"";
      return false;
    }
  }
  if (!ended) {
    error = "the head does not end";
    return false;
  }
  if (bytes.size() - pos != mainSize + subSize) {
    error = "the flash contents do not have the sizes the head declares";
    return false;
  }
  const uint8_t* data = bytes.data() + pos;
  r.main.flash.assign(data, data + mainSize);
  r.sub.flash.assign(data + mainSize, data + mainSize + subSize);
  const UpdateSession& s = r.session;
  const auto& flash = r.ProcessorFor(s.target).flash;
  if (s.active && (s.start > flash.size() || s.length > flash.size() - s.start)) {
    error = "the session's region lies outside the flash";
    return false;
  }
  if (s.verifying && (s.verifyStart > flash.size() || s.verifyLength > flash.size() - s.verifyStart ||
                      s.verifyOffset > s.verifyLength)) {
    error = "the verification's region lies outside the flash";
    return false;
  }
  out = std::move(r);
  return true;
}

bool RecorderStore::Create(const Recorder& recorder, std::string& error) const {
  LockedFile file;
  return file.Open(path_, true, error) && file.WriteAll(SerializeRecorder(recorder), error);
}

bool RecorderStore::Read(Recorder& recorder, std::string& error) const {
  LockedFile file;
  std::vector<uint8_t> bytes;
  if (!file.Open(path_, false, error) || !file.ReadAll(bytes, error)) return false;
  if (!ParseRecorder(bytes, recorder, error)) {
    error = path_ + ": " + error;
    return false;
  }
  return true;
}

bool RecorderStore::Update(const std::function<bool(Recorder&)>& change, std::string& error) const {
  LockedFile file;
  std::vector<uint8_t> bytes;
  if (!file.Open(path_, false, error) || !file.ReadAll(bytes, error)) return false;
  Recorder recorder;
  if (!ParseRecorder(bytes, recorder, error)) {
    error = path_ + ": " + error;
    return false;
  }
  if (!change(recorder)) return true;
  return file.WriteAll(SerializeRecorder(recorder), error);
}

uint64_t WallClockMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace sim
