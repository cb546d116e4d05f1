#include "sim/recorder.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/commands.h"
#include "sim/firmware_image.h"

namespace sim {

CommandKey KeyOf(std::span<const uint8_t> cdb) {
  if (cdb.empty()) return 0;
  // Standard commands (INQUIRY) are named by opcode alone.
  if (cdb[0] < 0xE0) return static_cast<CommandKey>(cdb[0] << 8);
  return static_cast<CommandKey>((cdb[0] << 8) | (cdb.size() > 1 ? cdb[1] : 0));
}

std::string KeyText(CommandKey key) {
  if (key == kAnyCommand) return "any";
  char text[8];
  if ((key >> 8) < 0xE0) {
    std::snprintf(text, sizeof text, "%02X", key >> 8);
  } else {
    std::snprintf(text, sizeof text, "%02X %02X", key >> 8, key & 0xFF);
  }
  return text;
}

namespace {

bool ParseHexByte(std::string_view text, uint8_t& value) {
  if (text.size() != 2) return false;
  unsigned v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + 2, v, 16);
  if (ec != std::errc() || end != text.data() + 2) return false;
  value = static_cast<uint8_t>(v);
  return true;
}

bool ParseNumber(std::string_view text, uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

}  // namespace

bool ParseKeyText(std::string_view text, CommandKey& key) {
  if (text == "any") {
    key = kAnyCommand;
    return true;
  }
  // "E4-02", "E402" and "E4 02" all name the image write; "12" names INQUIRY.
  std::string compact;
  for (char c : text) {
    if (c != ' ' && c != '-') compact.push_back(c);
  }
  uint8_t op = 0;
  uint8_t sub = 0;
  if (compact.size() == 2 && ParseHexByte(compact, op) && op < 0xE0) {
    key = static_cast<CommandKey>(op << 8);
    return true;
  }
  if (compact.size() == 4 && ParseHexByte(std::string_view(compact).substr(0, 2), op) &&
      ParseHexByte(std::string_view(compact).substr(2, 2), sub) && op >= 0xE0) {
    key = static_cast<CommandKey>((op << 8) | sub);
    return true;
  }
  return false;
}

std::string FaultText(const Fault& f) {
  switch (f.kind) {
    case FaultKind::FailCommand: return "fail " + KeyText(f.command) + " " + std::to_string(f.nth);
    case FaultKind::StallCommand: return "stall " + KeyText(f.command) + " " + std::to_string(f.nth);
    case FaultKind::Vanish: return "vanish " + KeyText(f.command) + " " + std::to_string(f.nth);
    case FaultKind::RefusePrepare: return "refuse-prepare";
    case FaultKind::ExtraSteps: return "extra-steps " + std::to_string(f.value) + " " + std::to_string(f.nth);
    case FaultKind::CorruptReadback: return "corrupt-readback " + std::to_string(f.value);
    case FaultKind::KeepVolume: return "keep-volume";
    case FaultKind::RefuseVerify: return "refuse-verify";
  }
  return "?";
}

bool ParseFault(std::string_view text, Fault& fault, std::string& error) {
  const auto words = Words(text);
  fault = Fault{};
  if (words.empty()) {
    error = "no fault given";
    return false;
  }
  const std::string_view name = words[0];
  auto number = [&](size_t index, uint32_t& out, uint32_t fallback) {
    if (index >= words.size()) {
      out = fallback;
      return true;
    }
    if (ParseNumber(words[index], out)) return true;
    error = std::string("\"").append(words[index]).append("\" is not a number");
    return false;
  };
  if (name == "fail" || name == "stall" || name == "vanish") {
    fault.kind = name == "fail" ? FaultKind::FailCommand : name == "stall" ? FaultKind::StallCommand : FaultKind::Vanish;
    // The command may be written "E4 02" (two words) or "E4-02"/"E402" (one).
    size_t next = 1;
    std::string key;
    if (next < words.size()) key = std::string(words[next++]);
    if (key.size() == 2 && key != "12" && next < words.size() && words[next].size() == 2) key += words[next++];
    if (!ParseKeyText(key, fault.command)) {
      error = "\"" + key + "\" names no command (write it like E4-02, 12 or any)";
      return false;
    }
    if (!number(next, fault.nth, 1)) return false;
    if (fault.nth == 0) {
      error = "calls are counted from 1";
      return false;
    }
    return next + 1 >= words.size() || (error = "too many words", false);
  }
  if (name == "refuse-prepare" && words.size() == 1) return fault.kind = FaultKind::RefusePrepare, true;
  if (name == "keep-volume" && words.size() == 1) return fault.kind = FaultKind::KeepVolume, true;
  if (name == "refuse-verify" && words.size() == 1) return fault.kind = FaultKind::RefuseVerify, true;
  if (name == "extra-steps" && words.size() <= 3) {
    fault.kind = FaultKind::ExtraSteps;
    return number(1, fault.value, 1) && number(2, fault.nth, 1) && fault.nth > 0;
  }
  if (name == "corrupt-readback" && words.size() <= 2) {
    fault.kind = FaultKind::CorruptReadback;
    return number(1, fault.value, 0);
  }
  error = "unknown fault \"" + std::string(text) + "\"";
  return false;
}

const char* ModelPaddingText(ModelPadding padding) { return padding == ModelPadding::Zero ? "zero" : "blank"; }

bool ParseModelPadding(std::string_view text, ModelPadding& padding) {
  if (text == "blank") return padding = ModelPadding::Blank, true;
  if (text == "zero") return padding = ModelPadding::Zero, true;
  return false;
}

namespace {

// Copies a reply into the transfer buffer, as far as it reaches.
Reply Good(const std::vector<uint8_t>& data, std::span<uint8_t> dataIn) {
  const size_t n = std::min(data.size(), dataIn.size());
  std::copy_n(data.begin(), n, dataIn.begin());
  return Reply{Status::Good, static_cast<uint32_t>(n)};
}
Reply Good() { return Reply{Status::Good, 0}; }
Reply Refused() { return Reply{Status::CheckCondition, 0}; }

std::vector<uint8_t> Padded(const std::string& text, size_t size, char pad) {
  std::vector<uint8_t> bytes(size, static_cast<uint8_t>(pad));
  std::copy_n(text.begin(), std::min(text.size(), size), bytes.begin());
  return bytes;
}

void PutBig16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

bool RegionFits(const Processor& p, uint32_t start, uint32_t length) {
  return length > 0 && start <= p.flash.size() && length <= p.flash.size() - start;
}

}  // namespace

void Recorder::LeaveForStorageMode(uint64_t atMs) {
  // The recorder restarts as a storage device: it leaves and comes back.
  leavesAtMs = 0;
  modeByte = 0;
  attached = false;
  returnsAtMs = atMs + std::max<uint32_t>(modeSwitchDelayMs, 1);
}

void Recorder::Tick(uint64_t nowMs) {
  // Timed from when it was due, not from when somebody looked: every reader of the state sees the
  // same leave and return.
  if (attached && leavesAtMs != 0 && nowMs >= leavesAtMs) LeaveForStorageMode(leavesAtMs);
  if (!attached && returnsAtMs != 0 && nowMs >= returnsAtMs) {
    attached = true;
    returnsAtMs = 0;
    volumeMounted = true;
    ++generation;
  }
}

void Recorder::Unplug() {
  attached = false;
  returnsAtMs = 0;
  leavesAtMs = 0;
  session = UpdateSession{};
}

void Recorder::Plug() {
  if (attached) return;
  attached = true;
  returnsAtMs = 0;
  volumeMounted = true;
  ++generation;
}

void Recorder::HostReleased(uint64_t nowMs) {
  if (!attached || !session.finished) return;
  // A finished recorder restarts into its new firmware: it leaves and comes back with its volume.
  session = UpdateSession{};
  attached = false;
  returnsAtMs = nowMs + std::max<uint32_t>(restartDelayMs, 1);
}

Reply Recorder::Execute(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut, std::span<uint8_t> dataIn,
                        uint64_t nowMs) {
  Tick(nowMs);
  if (!attached) return Reply{Status::NoDevice, 0};
  if (cdb.size() < 6) return Refused();
  const CommandKey key = KeyOf(cdb);
  log.push_back(KeyText(key));
  if (log.size() > kLogLimit) log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(log.size() - kLogLimit));

  // Faults bound to a command's n-th call fire once and are then forgotten.
  for (size_t i = 0; i < faults.size(); ++i) {
    Fault& f = faults[i];
    const bool counted = f.kind == FaultKind::FailCommand || f.kind == FaultKind::StallCommand || f.kind == FaultKind::Vanish;
    if (!counted || (f.command != kAnyCommand && f.command != key)) continue;
    if (++f.seen < f.nth) continue;
    const FaultKind kind = f.kind;
    faults.erase(faults.begin() + static_cast<std::ptrdiff_t>(i));
    if (kind == FaultKind::FailCommand) return Refused();
    if (kind == FaultKind::StallCommand) return Reply{Status::TimedOut, 0};
    Unplug();
    return Reply{Status::NoDevice, 0};
  }
  auto has = [&](FaultKind kind) {
    return std::any_of(faults.begin(), faults.end(), [kind](const Fault& f) { return f.kind == kind; });
  };

  const bool storageMode = modeByte != 3;
  switch (key) {
    case 0x1200: {  // INQUIRY
      std::vector<uint8_t> data(36, 0);
      data[1] = 0x80;  // removable medium
      data[2] = 0x02;
      data[3] = 0x02;
      data[4] = 31;
      const auto v = Padded(vendor, 8, ' ');
      const auto p = Padded(product, 16, ' ');
      std::copy(v.begin(), v.end(), data.begin() + 8);
      std::copy(p.begin(), p.end(), data.begin() + 16);
      const auto r = Padded(main.ReportedVersion(), 4, ' ');
      std::copy(r.begin(), r.end(), data.begin() + 32);
      return Good(data, dataIn);
    }
    case 0xE000:
      if (!storageMode) return Refused();
      return Good(Padded(model, 8, modelPadding == ModelPadding::Zero ? '\0' : ' '), dataIn);
    case 0xE001: {
      std::vector<uint8_t> state(8, 0);
      state[1] = storageMode ? 1 : 0;
      state[6] = modeByte;
      return Good(state, dataIn);
    }
    case 0xE002: {
      if (!storageMode) return Refused();
      std::vector<uint8_t> data = Padded(main.ReportedVersion(), 8, '\0');
      data.push_back(0);
      data.push_back(0);
      const auto s = Padded(sub.ReportedVersion(), 8, '\0');
      data.insert(data.end(), s.begin(), s.end());
      return Good(data, dataIn);
    }
    case 0xE006: {
      const std::string digits = std::to_string(serial);
      std::vector<uint8_t> data{static_cast<uint8_t>(digits.size())};
      data.insert(data.end(), digits.begin(), digits.end());
      data.resize(64, 0);
      return Good(data, dataIn);
    }
    case 0xE00B: {
      std::vector<uint8_t> data(4);
      PutBigEndian32(data.data(), deviceId);
      return Good(data, dataIn);
    }
    case 0xE012: {
      if (!storageMode) return Refused();
      std::vector<uint8_t> data(8);
      PutBigEndian32(data.data(), static_cast<uint32_t>(storageSize >> 32));
      PutBigEndian32(data.data() + 4, static_cast<uint32_t>(storageSize));
      return Good(data, dataIn);
    }
    case 0xE202:
      if (modeByte == 3 && leavesAtMs == 0) {
        if (modeSwitchLingerMs == 0) {
          LeaveForStorageMode(nowMs);
        } else {
          leavesAtMs = nowMs + modeSwitchLingerMs;
        }
      }
      return Good();
    default:
      break;
  }

  if (cdb[0] != 0xE4) return Refused();
  if (cdb.size() < 12) return Refused();
  const uint8_t target = cdb[11];
  if (target > 1) return Refused();
  const uint32_t a = BigEndian32(cdb.subspan(2));
  const uint32_t l = BigEndian32(cdb.subspan(6));
  Processor& processor = ProcessorFor(target);

  switch (cdb[1]) {
    case 0x00: {  // prepare
      if (has(FaultKind::RefusePrepare) || !RegionFits(processor, a, l)) return Refused();
      session = UpdateSession{};
      session.active = true;
      session.target = target;
      session.start = a;
      session.length = l;
      session.steps = prepareSteps;
      session.remaining = prepareSteps;
      // The region is erased now: from here on the processor holds no runnable image until a write
      // has been finished.
      std::fill_n(processor.flash.begin() + a, l, uint8_t{0xFF});
      processor.imageComplete = false;
      if (!has(FaultKind::KeepVolume)) volumeMounted = false;
      std::vector<uint8_t> data;
      PutBig16(data, session.steps);
      return Good(data, dataIn);
    }
    case 0x01: {  // preparation poll
      if (!session.active || session.target != target) return Refused();
      if (!pollScript.empty()) {
        session.remaining = std::min(pollScript.front(), session.steps);
        pollScript.erase(pollScript.begin());
      } else if (session.remaining > 0) {
        --session.remaining;
      }
      uint32_t reported = session.remaining;
      for (size_t i = 0; i < faults.size(); ++i) {
        Fault& f = faults[i];
        if (f.kind != FaultKind::ExtraSteps || ++f.seen < f.nth) continue;
        reported = session.steps + f.value;
        faults.erase(faults.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
      std::vector<uint8_t> data;
      PutBig16(data, static_cast<uint16_t>(std::min<uint32_t>(reported, 0xFFFF)));
      return Good(data, dataIn);
    }
    case 0x02: {  // write a piece
      if (!session.active || session.target != target || session.remaining != 0 || session.finished) return Refused();
      if (a != dataOut.size() || a > session.length - session.received) return Refused();
      std::copy(dataOut.begin(), dataOut.end(), processor.flash.begin() + session.start + session.received);
      session.received += a;
      return Good();
    }
    case 0x03: {  // finish: the image becomes the processor's program
      if (!session.active || session.target != target || session.received != session.length) return Refused();
      last = LastUpdate{true, target, session.start, session.length, {}, false};
      const auto written = std::span(processor.flash).subspan(session.start, session.length);
      if (const auto header = ReadFirmwareImageHeader(written); header && header->target == target) {
        processor.version = header->version;
        last.imageVersion = header->version;
      }
      session.finished = true;
      processor.imageComplete = true;
      return Good();
    }
    case 0x04:  // start verification
      if (has(FaultKind::RefuseVerify) || !RegionFits(processor, a, l)) return Refused();
      session.verifying = true;
      session.verifyStart = a;
      session.verifyLength = l;
      session.verifyOffset = 0;
      return Good();
    case 0x05: {  // read a piece back
      if (!session.verifying || a > session.verifyLength - session.verifyOffset || a > dataIn.size()) return Refused();
      const auto from = processor.flash.begin() + session.verifyStart + session.verifyOffset;
      std::copy(from, from + a, dataIn.begin());
      for (size_t i = 0; i < faults.size(); ++i) {
        const Fault& f = faults[i];
        if (f.kind != FaultKind::CorruptReadback) continue;
        if (f.value >= session.verifyOffset && f.value - session.verifyOffset < a) {
          dataIn[f.value - session.verifyOffset] ^= 0xFF;
          faults.erase(faults.begin() + static_cast<std::ptrdiff_t>(i));
          break;
        }
      }
      session.verifyOffset += a;
      return Reply{Status::Good, a};
    }
    case 0x06: {  // end verification
      const bool whole = session.verifying && session.verifyOffset == session.verifyLength;
      if (whole && last.present && session.finished) last.readBack = true;
      session.verifying = false;
      return Good();
    }
    default:
      return Refused();
  }
}

}  // namespace sim
