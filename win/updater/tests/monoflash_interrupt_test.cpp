// An update interrupted at every command of the sequence: the recorder vanishes at that command, the
// run fails as it should, the recorder is plugged in again and the program, run once more, finishes
// the job. A processor whose image was left incomplete reports 0.00, so even a customer release
// offers the update again; a recorder that vanished only during the read-back already holds the new
// image, and a customer release leaves it alone.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/commands.h"
#include "sim/firmware_image.h"
#include "win/updater/tests/monoflash_driver.h"

namespace {

using e2e::Monoflash;
using e2e::RecorderFile;
using e2e::Wizard;

const std::string kTitle = "Firmware update program";
const std::string kUpdateFailed = "The update has not been done properly.\nPlease update again.";

// A build and the region its image goes to. Every bundle brings version 1.01.
struct Bundle {
  const char* name;
  const char* program;
  bool factory;
  uint8_t target;  // 0 main, 1 sub
  uint32_t start;
  uint32_t length;

  uint32_t Pieces() const { return (length + kImagePieceSize - 1) / kImagePieceSize; }
  std::string SheetTitle() const { return target == 1 ? kTitle + " - (SUB CPU)" : kTitle; }
};

const Bundle kSubCustomer{"sub processor, customer entry", ZT_MONOFLASH_CUSTOMER, false, 1, 1024, 31744};
const Bundle kMainCustomer{"main processor, customer entry", ZT_MONOFLASH_MAIN_CUSTOMER, false, 0, 524288, 131073};
const Bundle kMainFactory{"main processor, factory entry", ZT_MONOFLASH_MAIN_FACTORY, true, 0, 524288, 131073};

// Where the recorder vanishes. Within the writes and the reads it goes at the last piece, so that
// the pieces before it have arrived.
struct Interruption {
  const char* command;
  bool lastPiece;
  bool afterFinish;  // the write was finished before the recorder went
  // The engine cannot tell a recorder that is gone from one that refuses to start the read-back,
  // and a refused read-back is skipped: the run succeeds on the finished write.
  bool firstRunSucceeds;
};
const Interruption kSequence[] = {
    {"E4 00", false, false, false}, {"E4 01", false, false, false}, {"E4 02", true, false, false},
    {"E4 03", false, false, false}, {"E4 04", false, true, true},   {"E4 05", true, true, false},
    {"E4 06", false, true, false},
};
// The sub processor's image is not read back, so its sequence ends at the finish.
constexpr size_t kSubSequenceLength = 4;

enum class Mode { Silent, Wizard };

sim::Recorder Made(const Bundle& bundle, const Interruption& at) {
  sim::Recorder r;
  r.main.version = "1.00";
  r.sub.version = "1.00";
  // The fastest recorder the simulation offers: one preparation step, a restart that is over at once.
  r.prepareSteps = 1;
  r.restartDelayMs = 1;
  r.modeSwitchDelayMs = 1;
  const uint32_t nth = at.lastPiece ? bundle.Pieces() : 1;
  sim::Fault fault;
  std::string error;
  EXPECT_TRUE(sim::ParseFault("vanish " + std::string(at.command) + " " + std::to_string(nth), fault, error)) << error;
  r.faults.push_back(fault);
  return r;
}

const sim::Processor& Target(const sim::Recorder& r, const Bundle& bundle) { return bundle.target == 1 ? r.sub : r.main; }
const sim::Processor& Other(const sim::Recorder& r, const Bundle& bundle) { return bundle.target == 1 ? r.main : r.sub; }

// Presses through the wizard to the update: page 1, which shows the version the recorder reports,
// and for a customer entry the last warning.
bool StartThroughTheWizard(const Monoflash& run, const Bundle& bundle, const std::string& deviceVersion) {
  std::optional<Wizard> wizard = e2e::WaitForPage(run, bundle.SheetTitle(), 1);
  if (!wizard) return false;
  const std::string comment = wizard->PageText(1002);
  EXPECT_NE(comment.find("Current firmware version\t\t" + deviceVersion + "\n"), std::string::npos) << comment;
  if (!wizard->PressNext()) return false;
  if (bundle.factory) return true;
  wizard = e2e::WaitForPage(run, bundle.SheetTitle(), 4);
  return wizard && wizard->PressNext();
}

enum class Outcome { Fails, Updates, NothingToDo };

// One run of the program in `mode` against a recorder that reports `deviceVersion`. A failing run
// reports `failure` in a box; a silent run ends with 0 only when it updated, a wizard run always
// with 1.
void RunOnce(const Bundle& bundle, Mode mode, const RecorderFile& recorder, const std::string& deviceVersion,
             Outcome outcome, const std::string& failure = {}) {
  Monoflash run(bundle.program, mode == Mode::Silent ? "-silent" : "", recorder.path());
  ASSERT_TRUE(run.started());
  if (mode == Mode::Wizard && outcome != Outcome::NothingToDo) {
    ASSERT_TRUE(StartThroughTheWizard(run, bundle, deviceVersion));
  }
  if (outcome == Outcome::Fails) {
    HWND box = nullptr;
    ASSERT_TRUE(run.Until([&] { return (box = run.FindMessageBox()) != nullptr; })) << "no failure reported";
    EXPECT_EQ(e2e::MessageBoxText(box), failure);
    e2e::PressOk(box);
  } else if (mode == Mode::Wizard) {
    const bool updates = outcome == Outcome::Updates;
    const std::optional<Wizard> last = e2e::WaitForPage(run, bundle.SheetTitle(), updates ? 5 : 2);
    ASSERT_TRUE(last);
    const std::string comment = last->PageText(1002);
    const std::string expected =
        updates ? "successfully updated to version 1.01.\n" : "Current firmware version\t\t" + deviceVersion + "\n";
    EXPECT_NE(comment.find(expected), std::string::npos) << comment;
    ASSERT_TRUE(last->PressCancel());
  }
  const DWORD code = mode == Mode::Silent && outcome == Outcome::Updates ? 0 : 1;
  EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(code));
}

void ExpectNewFirmware(const Bundle& bundle, const sim::Recorder& before, const sim::Recorder& after) {
  const sim::Processor& target = Target(after, bundle);
  EXPECT_EQ(target.ReportedVersion(), "1.01");
  EXPECT_TRUE(target.imageComplete);
  // The region holds one whole image: its header, and a body that matches the header's hash.
  const auto image = sim::ReadFirmwareImageHeader(std::span(target.flash).subspan(bundle.start, bundle.length));
  ASSERT_TRUE(image.has_value()) << "the region holds no whole image";
  EXPECT_EQ(image->target, bundle.target);
  EXPECT_EQ(image->version, "1.01");
  EXPECT_EQ(image->length, bundle.length);
  const sim::Processor& other = Other(after, bundle);
  EXPECT_EQ(other.ReportedVersion(), "1.00");
  EXPECT_TRUE(other.flash == Other(before, bundle).flash) << "the other processor was touched";
  EXPECT_TRUE(after.faults.empty()) << "the fault never fired: " << sim::FaultText(after.faults.front());
}

void RunCase(const Bundle& bundle, const Interruption& at, Mode mode) {
  const RecorderFile recorder(Made(bundle, at));
  const sim::Recorder before = recorder.Read();

  // A recorder gone at the preparation is told apart from one that refused it by its volume, which
  // went with it: the user is asked to try again, not told that the firmware does not fit.
  const bool prepared = std::string(at.command) != "E4 00";
  ASSERT_NO_FATAL_FAILURE(RunOnce(bundle, mode, recorder, "1.00",
                                  at.firstRunSucceeds ? Outcome::Updates : Outcome::Fails, kUpdateFailed));
  const sim::Recorder gone = recorder.Read();
  ASSERT_FALSE(gone.attached) << "the recorder never vanished";
  EXPECT_EQ(Target(gone, bundle).imageComplete, !prepared || at.afterFinish);

  recorder.Change([](sim::Recorder& r) { r.Plug(); });
  const sim::Recorder back = recorder.Read();
  const char* reported = !prepared ? "1.00" : at.afterFinish ? "1.01" : "0.00";
  EXPECT_EQ(Target(back, bundle).ReportedVersion(), reported);
  EXPECT_TRUE(back.volumeMounted);

  const bool offered = bundle.factory || !at.afterFinish;
  ASSERT_NO_FATAL_FAILURE(
      RunOnce(bundle, mode, recorder, reported, offered ? Outcome::Updates : Outcome::NothingToDo));
  const sim::Recorder after = recorder.Read();
  ExpectNewFirmware(bundle, before, after);
  if (offered) {
    EXPECT_TRUE(after.last.present);
    EXPECT_EQ(after.last.target, bundle.target);
    EXPECT_EQ(after.last.imageVersion, "1.01");
    // Only the main processor's image is read back.
    EXPECT_EQ(after.last.readBack, bundle.target == 0);
  }
}

void RunMatrix(const Bundle& bundle, size_t commands) {
  for (size_t i = 0; i < commands; ++i) {
    for (const Mode mode : {Mode::Silent, Mode::Wizard}) {
      const Interruption& at = kSequence[i];
      SCOPED_TRACE(std::string(bundle.name) + ", gone at " + at.command + ", " +
                   (mode == Mode::Silent ? "silent" : "wizard"));
      const auto start = std::chrono::steady_clock::now();
      RunCase(bundle, at, mode);
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
      std::printf("  %-32s %s %-6s %6lld ms\n", bundle.name, at.command, mode == Mode::Silent ? "silent" : "wizard",
                  static_cast<long long>(ms));
    }
  }
}

TEST(MonoflashInterrupted, SubProcessorCustomerEntry) { RunMatrix(kSubCustomer, kSubSequenceLength); }
TEST(MonoflashInterrupted, MainProcessorCustomerEntry) { RunMatrix(kMainCustomer, std::size(kSequence)); }
TEST(MonoflashInterrupted, MainProcessorFactoryEntry) { RunMatrix(kMainFactory, std::size(kSequence)); }

}  // namespace
