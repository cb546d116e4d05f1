// An update of the main processor's 1,572,864-byte image with read-back, against the simulated
// recorder with no latency and a fake clock: what the sequence and the command layer cost on top of
// moving the bytes. The baseline copies and compares the same bytes in the same 64 KiB pieces.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/update_sequence.h"
#include "sim/firmware_image.h"
#include "sim/link.h"
#include "sim/sim_commands.h"

namespace {

// Heap accounting, to see how much memory a run needs beyond the image.
std::atomic<int64_t> g_heapNow{0};
std::atomic<int64_t> g_heapPeak{0};

void Track(int64_t delta) {
  const int64_t now = g_heapNow.fetch_add(delta) + delta;
  int64_t peak = g_heapPeak.load();
  while (now > peak && !g_heapPeak.compare_exchange_weak(peak, now)) {
  }
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = std::malloc(size + 16);
  if (!p) throw std::bad_alloc();
  std::memcpy(p, &size, sizeof size);
  Track(static_cast<int64_t>(size));
  return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  char* base = static_cast<char*>(p) - 16;
  std::size_t size = 0;
  std::memcpy(&size, base, sizeof size);
  Track(-static_cast<int64_t>(size));
  std::free(base);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr uint32_t kLength = 1572864;
constexpr double kTargetRatio = 2.0;

class NoReporter : public UpdateReporter {
 public:
  void Progress(uint32_t) override {}
  void Stage(uint32_t) override {}
  void Error(uint32_t) override {}
};

class NoClock : public UpdateClock {
 public:
  void Pause(std::chrono::milliseconds) override {}
};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// What moving the bytes costs at least: each piece copied once (the write) and compared once (the read-back).
double BaselineSeconds(const std::vector<uint8_t>& image, std::vector<uint8_t>& flash) {
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t offset = 0; offset < kLength; offset += kImagePieceSize) {
    std::memcpy(flash.data() + offset, image.data() + offset, kImagePieceSize);
  }
  bool same = true;
  for (uint32_t offset = 0; offset < kLength; offset += kImagePieceSize) {
    same = same && std::memcmp(flash.data() + offset, image.data() + offset, kImagePieceSize) == 0;
  }
  benchmark::DoNotOptimize(same);
  return Seconds(std::chrono::steady_clock::now() - start);
}

void BM_UpdateMainImageWithReadBack(benchmark::State& state) {
  const auto image = sim::MakeFirmwareImage({0, "1.02", "ZT-5100", 0, 0}, kLength);
  std::vector<uint8_t> flash(kLength);
  sim::Recorder recorder;
  recorder.prepareSteps = 1;
  recorder.restartDelayMs = 1;  // back at the next look at the clock
  uint64_t fakeNow = 0;
  sim::MemoryLink link(recorder, [&] { return fakeNow += 1000; });  // each look at the clock: one second on
  sim::SimUpdateCommands commands(link, sim::SimUpdateCommands::Platform::Windows);
  NoReporter reporter;
  NoClock clock;
  UpdateJob job;
  job.target = TargetCode::Main;
  job.startAddress = 524288;
  job.length = static_cast<int32_t>(kLength);
  job.image = image;

  double updateTotal = 0;
  double baselineTotal = 0;
  int64_t extraPeak = 0;
  for (auto _ : state) {
    const int64_t before = g_heapNow.load();
    g_heapPeak.store(before);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = RunUpdate(job, commands, reporter, clock, nullptr);
    const double update = Seconds(std::chrono::steady_clock::now() - start);
    if (!ok) state.SkipWithError("the update failed");
    extraPeak = std::max(extraPeak, g_heapPeak.load() - before);
    const double baseline = BaselineSeconds(image, flash);
    state.SetIterationTime(update);
    updateTotal += update;
    baselineTotal += baseline;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["update_MBps"] = kLength / (updateTotal / n) / 1e6;
  state.counters["baseline_MBps"] = kLength / (baselineTotal / n) / 1e6;
  state.counters["ratio"] = updateTotal / baselineTotal;
  if (updateTotal / baselineTotal > kTargetRatio) state.SetLabel("TARGET MISSED: more than 2.0x the copy and compare");
  state.counters["extra_heap_KiB"] = static_cast<double>(extraPeak) / 1024.0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(BM_UpdateMainImageWithReadBack)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
