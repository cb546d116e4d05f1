// Monoflash end to end: the simulation builds run as processes against a simulated recorder of their
// own; the cases look only at what a user and the two-stage wrapper see (windows, texts, message
// boxes, the exit code, the completion marker) and at what reached the recorder.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "win/updater/tests/monoflash_driver.h"

namespace {

using e2e::Monoflash;
using e2e::RecorderFile;
using e2e::Wizard;

// The three builds: the shipped stage-1 bundle (factory entry), an ordinary customer release, and a
// factory entry that checks the recorder's storage size (1 GiB). All carry version 1.01 for the sub
// processor.
enum class Bundle { Factory, Customer, StorageCheck };

const char* ProgramOf(Bundle bundle) {
  switch (bundle) {
    case Bundle::Factory: return ZT_MONOFLASH_FACTORY;
    case Bundle::Customer: return ZT_MONOFLASH_CUSTOMER;
    case Bundle::StorageCheck: return ZT_MONOFLASH_STORAGE;
  }
  return "";
}

const std::string kTitle = "Firmware update program";
const std::string kSheetTitle = kTitle + " - (SUB CPU)";
const std::string kDisconnected = "The device has been disconnected.";
const std::string kNotSupported = "This Update program does not support this firmware version.";
constexpr uint64_t kGiB = 1ull << 30;
// Not the configured "ZT-5100", so that a page shows whose model it names.
constexpr char kRecorderModel[] = "ZT-5100B";

using Shape = std::function<void(sim::Recorder&)>;

Shape At(const char* subVersion, uint64_t storage = kGiB) {
  return [=](sim::Recorder& r) { r.sub.version = subVersion, r.storageSize = storage; };
}
const Shape kDetached = [](sim::Recorder& r) { r.attached = false; };

sim::Recorder Made(const Shape& shape) {
  sim::Recorder r;
  r.model = kRecorderModel;
  r.modeSwitchDelayMs = 800;
  if (shape) shape(r);
  return r;
}

std::string Marker() { return e2e::TempFolder() + "KestrelReflashCompleteCheck.txt"; }
bool MarkerExists() { return GetFileAttributesA(Marker().c_str()) != INVALID_FILE_ATTRIBUTES; }

bool HasCommand(const sim::Recorder& r, const char* key) {
  for (const std::string& entry : r.log) {
    if (entry == key) return true;
  }
  return false;
}

void ExpectNothingWritten(const sim::Recorder& before, const sim::Recorder& after) {
  EXPECT_FALSE(after.last.present);
  EXPECT_FALSE(HasCommand(after, "E4 02")) << "an image piece was sent";
  EXPECT_EQ(after.sub.version, before.sub.version);
  EXPECT_TRUE(after.sub.flash == before.sub.flash) << "the sub processor's flash changed";
  EXPECT_TRUE(after.main.flash == before.main.flash) << "the main processor's flash changed";
}

void ExpectSubUpdated(const sim::Recorder& before, const sim::Recorder& after) {
  EXPECT_EQ(after.sub.version, "1.01");
  EXPECT_TRUE(after.last.present);
  EXPECT_EQ(after.last.target, 1) << "the sub processor";
  EXPECT_EQ(after.last.start, 1024u);
  EXPECT_EQ(after.last.length, 31744u);
  EXPECT_EQ(after.last.imageVersion, "1.01");
  EXPECT_EQ(after.main.version, before.main.version);
  EXPECT_TRUE(after.main.flash == before.main.flash) << "the main processor was touched";
}

class MonoflashTest : public testing::Test {
 protected:
  void SetUp() override { DeleteFileA(Marker().c_str()); }
  void TearDown() override { DeleteFileA(Marker().c_str()); }

  // The sheet once it shows `page`; empty, with a failure, when it does not in time.
  static std::optional<Wizard> WaitForPage(const Monoflash& run, int page) {
    HWND sheet = nullptr;
    const bool shown = run.Until([&] {
      sheet = run.Find("#32770", kSheetTitle);
      return sheet && Wizard(sheet).Page() == page;
    });
    if (shown) return Wizard(sheet);
    ADD_FAILURE() << "page " << page << " not shown; the sheet shows "
                  << (sheet ? std::to_string(Wizard(sheet).Page()) : std::string("nothing"));
    return std::nullopt;
  }

  // A message box of the program with `text`, answered with OK.
  static void AnswerBox(const Monoflash& run, const std::string& text) {
    HWND box = nullptr;
    ASSERT_TRUE(run.Until([&] { return (box = run.FindMessageBox()) != nullptr; })) << "no box with: " << text;
    EXPECT_EQ(e2e::MessageBoxText(box), text);
    e2e::PressOk(box);
  }
};

// The unattended run shows nothing but the progress dialog, and its exit code tells the caller
// whether the recorder was updated.
TEST_F(MonoflashTest, SilentRunUpdatesOnlyWhenItsRulesSaySo) {
  const struct {
    const char* name;
    Bundle bundle;
    Shape recorder;
    const char* arguments;
    bool updates;
  } cases[] = {
      {"no recorder", Bundle::Factory, kDetached, "-silent", false},
      {"customer entry, older recorder", Bundle::Customer, At("1.00"), "-silent", true},
      {"customer entry, same version, as the first stage", Bundle::Customer, At("1.01"), "-silent -nc1", false},
      {"factory entry, newer recorder", Bundle::Factory, At("2.00"), "-silent", true},
      {"storage size of no concern", Bundle::StorageCheck, At("1.00", 2 * kGiB), "-silent", true},
      {"recorder switched to storage mode first",
       Bundle::Factory, [](sim::Recorder& r) { r.modeByte = 3; }, "-silent", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RecorderFile recorder(Made(c.recorder));
    const sim::Recorder before = recorder.Read();
    Monoflash run(ProgramOf(c.bundle), c.arguments, recorder.path());
    ASSERT_TRUE(run.started());

    std::set<std::pair<std::string, std::string>> seen;
    const auto code = run.WaitExit(e2e::kPatienceMs, [&] {
      for (const e2e::TopWindow& w : run.Windows()) seen.emplace(w.className, w.title);
    });
    ASSERT_TRUE(code.has_value()) << "still running";
    const sim::Recorder after = recorder.Read();
    if (c.updates) {
      EXPECT_EQ(*code, 0u);
      EXPECT_EQ(seen, (std::set<std::pair<std::string, std::string>>{{"#32770", kTitle}}));
      ExpectSubUpdated(before, after);
      EXPECT_EQ(after.modeByte, 0);
    } else {
      EXPECT_EQ(*code, 1u);
      EXPECT_TRUE(seen.empty()) << "a window appeared: " << seen.begin()->second;
      ExpectNothingWritten(before, after);
    }
    EXPECT_FALSE(MarkerExists()) << "only the wizard writes the marker";
  }
}

// How the wizard ends on each page; a page that locks the sheet in a chained run cannot be left.
enum class Leaving { Cancel, CancelWritesMarker, Locked };

// Which page the wizard opens with for the recorder it finds, and how that page looks and ends.
TEST_F(MonoflashTest, WizardOpensThePageTheRecorderCallsFor) {
  const struct {
    const char* name;
    Bundle bundle;
    Shape recorder;
    const char* arguments;
    int page;
    const char* comment;  // a part of the page's comment
    const char* next;     // nullptr: hidden
    const char* cancel;
    Leaving leaving;
  } cases[] = {
      {"no recorder", Bundle::Factory, kDetached, "", 0, "Update firmware to version 1.01.\n", nullptr, "Cancel",
       Leaving::Cancel},
      {"no recorder, first stage", Bundle::Factory, kDetached, "-nc1", 0, "Connect the Recorder", nullptr, "Cancel",
       Leaving::Locked},
      {"customer, same version", Bundle::Customer, At("1.01"), "", 2,
       "Current firmware version\t\t1.01\n New Firmware version\t\t1.01\n\nFirmware update is not required.", nullptr,
       "&Finish", Leaving::Cancel},
      {"customer, same version, first stage", Bundle::Customer, At("1.01"), "-nc1", 1, "press the [&Next] button",
       "&Next", "Cancel", Leaving::Locked},
      {"customer, same version, second stage", Bundle::Customer, At("1.01"), "-NC2", 1, "press the [&Next] button",
       "&Next", "Cancel", Leaving::Locked},
      {"customer, newer by a letter", Bundle::Customer, At("1.01a"), "", 2, "Current firmware version\t\t1.01a",
       nullptr, "&Finish", Leaving::Cancel},
      {"customer, newer by a letter, first stage", Bundle::Customer, At("1.01a"), "-nc1", 2,
       "Firmware update is not required.", nullptr, "&Next", Leaving::CancelWritesMarker},
      {"customer, newer by a letter, second stage", Bundle::Customer, At("1.01a"), "-nc2", 2,
       "Firmware update is not required.", nullptr, "&Finish", Leaving::CancelWritesMarker},
      {"customer, older recorder", Bundle::Customer, At("1.00"), "", 1,
       "Current firmware version\t\t1.00\n New Firmware version\t\t1.01", "&Next", "Cancel", Leaving::Cancel},
      {"factory, newer recorder", Bundle::Factory, At("2.00"), "", 1, "press the [&Start] button", "&Start", "Cancel",
       Leaving::Cancel},
      {"storage check, size matches", Bundle::StorageCheck, At("1.00"), "", 1, "[&Start]", "&Start", "Cancel",
       Leaving::Cancel},
      {"storage check, other size", Bundle::StorageCheck, At("1.00", 2 * kGiB), "", 3,
       "connecting device\t2147483648\nThe storage size of target device\t\t1073741824\n", nullptr, "&Finish",
       Leaving::Cancel},
      {"storage check, other size, first stage", Bundle::StorageCheck, At("1.00", 2 * kGiB), "-nc1", 3,
       "This firmware can not update the connecting device.", nullptr, "&Finish", Leaving::Cancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileA(Marker().c_str());
    const RecorderFile recorder(Made(c.recorder));
    const sim::Recorder before = recorder.Read();
    Monoflash run(ProgramOf(c.bundle), c.arguments, recorder.path());
    ASSERT_TRUE(run.started());
    const std::optional<Wizard> wizard = WaitForPage(run, c.page);
    if (!wizard) continue;

    EXPECT_NE(wizard->PageText(1002).find(c.comment), std::string::npos) << wizard->PageText(1002);
    EXPECT_TRUE(wizard->InsidePage(1002)) << "the comment's last lines are cut off";
    if (c.page != 0) {
      EXPECT_EQ(wizard->PageText(1001), c.bundle == Bundle::Customer ? "Model: ZT-5100B" : "Model: ZT-5100");
    }
    const Wizard::Button next = wizard->Next(), cancel = wizard->Cancel();
    EXPECT_EQ(next.shown, c.next != nullptr);
    if (c.next) {
      EXPECT_EQ(next.text, c.next);
    }
    EXPECT_EQ(cancel.text, c.cancel);
    EXPECT_EQ(cancel.enabled, c.leaving != Leaving::Locked);
    EXPECT_EQ(run.FindMessageBox(), nullptr);

    if (c.leaving != Leaving::Locked) {
      ASSERT_TRUE(wizard->PressCancel());
      EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1)) << "a wizard run always ends with 1";
      EXPECT_EQ(MarkerExists(), c.leaving == Leaving::CancelWritesMarker);
    } else {
      // The window's Close item cannot end the stage either. An allowed close takes the sheet
      // off the screen within some 30 ms.
      PostMessageA(wizard->handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
      EXPECT_FALSE(run.Until([&] { return !IsWindowVisible(wizard->handle()); }, 1000)) << "closed by Close";
      EXPECT_FALSE(MarkerExists());
    }
    run.Kill();
    ExpectNothingWritten(before, recorder.Read());
  }
}

// Through the pages to an updated recorder, in an ordinary run and in both stages of a chained one.
TEST_F(MonoflashTest, WizardUpdatesTheRecorder) {
  const struct {
    const char* name;
    Bundle bundle;
    const char* arguments;
    bool lastWarning;  // page 4 comes before the update
    bool finalPage;    // page 5 comes after it
    bool marker;
  } cases[] = {
      {"customer entry", Bundle::Customer, "", true, true, false},
      {"factory entry starts at once", Bundle::Factory, "", false, true, false},
      {"customer entry, first stage", Bundle::Customer, "-nc1", true, false, true},
      {"customer entry, second stage", Bundle::Customer, "-nc2", true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileA(Marker().c_str());
    const RecorderFile recorder(Made(At("1.00")));
    const sim::Recorder before = recorder.Read();
    Monoflash run(ProgramOf(c.bundle), c.arguments, recorder.path());
    ASSERT_TRUE(run.started());

    std::optional<Wizard> wizard = WaitForPage(run, 1);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(wizard->PressNext());
    if (c.lastWarning) {
      wizard = WaitForPage(run, 4);
      ASSERT_TRUE(wizard);
      EXPECT_EQ(wizard->Next().text, "&Start");
      EXPECT_EQ(wizard->Cancel().text, "Cancel");
      EXPECT_NE(wizard->PageText(1002).find("Press [Start] to start"), std::string::npos);
      ASSERT_TRUE(wizard->PressNext());
    }
    EXPECT_TRUE(run.Until([&] { return run.Find("#32770", kTitle) != nullptr; })) << "no progress dialog";

    if (c.finalPage) {
      wizard = WaitForPage(run, 5);
      ASSERT_TRUE(wizard);
      EXPECT_NE(wizard->PageText(1002).find("successfully updated to version 1.01.\n"), std::string::npos)
          << wizard->PageText(1002);
      EXPECT_FALSE(wizard->Next().shown);
      EXPECT_EQ(wizard->Cancel().text, "&Finish");
      ASSERT_TRUE(wizard->PressCancel());
    }
    bool finalPageSeen = false;
    const auto code = run.WaitExit(e2e::kPatienceMs, [&] {
      if (const HWND sheet = run.Find("#32770", kSheetTitle)) finalPageSeen |= Wizard(sheet).Page() == 5;
    });
    EXPECT_EQ(code, std::optional<DWORD>(1));
    EXPECT_FALSE(finalPageSeen && !c.finalPage) << "the first stage closes without the final page";
    EXPECT_EQ(MarkerExists(), c.marker);
    ExpectSubUpdated(before, recorder.Read());
  }
}

// A recorder that refuses the preparation is told apart from a failed update, and nothing is written.
TEST_F(MonoflashTest, RefusedPreparationEndsTheRun) {
  const struct {
    const char* name;
    const char* arguments;
  } cases[] = {{"wizard", ""}, {"silent", "-silent"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RecorderFile recorder(Made([](sim::Recorder& r) {
      r.sub.version = "1.00";
      r.faults.push_back(sim::Fault{sim::FaultKind::RefusePrepare});
    }));
    const sim::Recorder before = recorder.Read();
    Monoflash run(ZT_MONOFLASH_CUSTOMER, c.arguments, recorder.path());
    ASSERT_TRUE(run.started());
    if (std::string(c.arguments).empty()) {
      std::optional<Wizard> wizard = WaitForPage(run, 1);
      ASSERT_TRUE(wizard);
      ASSERT_TRUE(wizard->PressNext());
      ASSERT_TRUE(WaitForPage(run, 4));
      ASSERT_TRUE(wizard->PressNext());
      // While the box is up, the progress dialog stays under it and the wizard cannot be used.
      ASSERT_TRUE(run.Until([&] { return run.FindMessageBox() != nullptr; }));
      EXPECT_FALSE(run.Until([&] { return IsWindowEnabled(wizard->handle()) != FALSE; }, 1500))
          << "the wizard came back under the box";
      EXPECT_NE(run.Find("#32770", kTitle), nullptr) << "the progress dialog went from under the box";
    }
    AnswerBox(run, kNotSupported);
    EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
    ExpectNothingWritten(before, recorder.Read());
    EXPECT_FALSE(MarkerExists());
  }
}

// The wizard follows the recorder as it is unplugged and plugged in again, and chooses the page
// afresh for what comes back.
TEST_F(MonoflashTest, WizardFollowsTheRecorderOutAndBackIn) {
  const RecorderFile recorder(Made(At("1.00")));
  Monoflash run(ZT_MONOFLASH_CUSTOMER, "", recorder.path());
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(WaitForPage(run, 1));

  recorder.Change([](sim::Recorder& r) { r.Unplug(); });
  ASSERT_TRUE(WaitForPage(run, 0));
  HWND box = nullptr;
  ASSERT_TRUE(run.Until([&] { return (box = run.FindMessageBox()) != nullptr; }));
  EXPECT_EQ(e2e::MessageBoxText(box), kDisconnected);

  // It comes back with newer firmware: the box about its absence goes by itself.
  recorder.Change([](sim::Recorder& r) { r.sub.version = "1.01a", r.Plug(); });
  const std::optional<Wizard> wizard = WaitForPage(run, 2);
  ASSERT_TRUE(wizard);
  EXPECT_NE(wizard->PageText(1002).find("Current firmware version\t\t1.01a"), std::string::npos)
      << wizard->PageText(1002);
  EXPECT_TRUE(run.Until([&] { return run.FindMessageBox() == nullptr; })) << "the box stayed";

  ASSERT_TRUE(wizard->PressCancel());
  EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
}

// A recorder that first has to be switched to storage mode leaves and comes back on its own; that
// absence is expected, so no box tells the user about it. It is plugged in while the wizard waits,
// so that the sheet hears the whole leave and return.
TEST_F(MonoflashTest, WizardWaitsQuietlyForTheModeSwitch) {
  const RecorderFile recorder(Made([](sim::Recorder& r) { r.sub.version = "1.00", r.modeByte = 3, r.attached = false; }));
  Monoflash run(ZT_MONOFLASH_CUSTOMER, "", recorder.path());
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(WaitForPage(run, 0));
  const uint32_t arrivals = recorder.Read().generation;
  recorder.Change([](sim::Recorder& r) { r.Plug(); });

  bool boxSeen = false;
  HWND sheet = nullptr;
  EXPECT_TRUE(run.Until([&] {
    boxSeen |= run.FindMessageBox() != nullptr;
    sheet = run.Find("#32770", kSheetTitle);
    return sheet && Wizard(sheet).Page() == 1;
  })) << "the switched recorder was not offered the update";
  EXPECT_FALSE(boxSeen);
  const sim::Recorder after = recorder.Read();
  EXPECT_EQ(after.modeByte, 0);
  EXPECT_EQ(after.generation, arrivals + 2) << "plugged in, then back after the switch";

  if (sheet) {
    EXPECT_TRUE(Wizard(sheet).PressCancel());
  }
  EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
}

// A recorder plugged in before the start that must switch first is told so once. A real recorder goes
// on answering for a moment after the command; the wizard's window, made in that moment, must not
// tell it again or take what it says as it goes for its identity.
TEST_F(MonoflashTest, RecorderThatMustSwitchAtTheStartIsToldOnce) {
  const RecorderFile recorder(Made([](sim::Recorder& r) {
    r.sub.version = "1.00", r.modeByte = 3, r.modeSwitchLingerMs = 1500;
  }));
  Monoflash run(ZT_MONOFLASH_CUSTOMER, "", recorder.path());
  ASSERT_TRUE(run.started());
  bool boxSeen = false;
  HWND sheet = nullptr;
  EXPECT_TRUE(run.Until([&] {
    boxSeen |= run.FindMessageBox() != nullptr;
    sheet = run.Find("#32770", kSheetTitle);
    return sheet && Wizard(sheet).Page() == 1;
  })) << "the switched recorder was not offered the update";
  EXPECT_FALSE(boxSeen) << "its expected absence was reported";
  const sim::Recorder after = recorder.Read();
  EXPECT_EQ(std::count(after.log.begin(), after.log.end(), std::string("E2 02")), 1) << "told to switch again";
  if (sheet) {
    EXPECT_NE(Wizard(sheet).PageText(1002).find("Current firmware version\t\t1.00\n"), std::string::npos)
        << Wizard(sheet).PageText(1002);
    EXPECT_TRUE(Wizard(sheet).PressCancel());
  }
  EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
}

// While one recorder is in use, a second one plugged in is left alone: the wizard stays with the first
// and updates only it. A run with no recorder in use shows first that the second one's arrival is
// heard and examined, so that the silence after it means something.
TEST_F(MonoflashTest, SecondRecorderPluggedInWhileOneIsInUseIsIgnored) {
  const Shape secondShape = [](sim::Recorder& r) { r.model = "ZT-5100X", r.sub.version = "0.50", r.attached = false; };
  const auto plug = [](sim::Recorder& r) { r.Plug(); };
  {
    SCOPED_TRACE("no recorder in use");
    const RecorderFile first(Made(kDetached)), second(Made(secondShape));
    Monoflash run(ZT_MONOFLASH_CUSTOMER, "", first.path(), second.path());
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(WaitForPage(run, 0));
    second.Change(plug);
    const std::optional<Wizard> wizard = WaitForPage(run, 1);
    ASSERT_TRUE(wizard);
    EXPECT_EQ(wizard->PageText(1001), "Model: ZT-5100X");
    EXPECT_NE(wizard->PageText(1002).find("Current firmware version\t\t0.50\n"), std::string::npos);
    ASSERT_TRUE(wizard->PressCancel());
    EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
  }

  const RecorderFile first(Made(At("1.00"))), second(Made(secondShape));
  const sim::Recorder firstBefore = first.Read(), secondBefore = second.Read();
  Monoflash run(ZT_MONOFLASH_CUSTOMER, "", first.path(), second.path());
  ASSERT_TRUE(run.started());
  std::optional<Wizard> wizard = WaitForPage(run, 1);
  ASSERT_TRUE(wizard);
  const std::string model = wizard->PageText(1001), comment = wizard->PageText(1002);
  EXPECT_EQ(model, "Model: ZT-5100B");
  EXPECT_NE(comment.find("Current firmware version\t\t1.00\n"), std::string::npos) << comment;

  second.Change(plug);
  // Six looks of the host's watcher, and the sheet's answer to each.
  EXPECT_FALSE(run.Until([&] { return run.FindMessageBox() || wizard->Page() != 1; }, 1500)) << "the wizard moved";
  ASSERT_TRUE(run.Running());
  EXPECT_EQ(wizard->Page(), 1);
  EXPECT_EQ(wizard->PageText(1001), model);
  EXPECT_EQ(wizard->PageText(1002), comment);
  EXPECT_EQ(run.FindMessageBox(), nullptr);

  ASSERT_TRUE(wizard->PressNext());
  ASSERT_TRUE(WaitForPage(run, 4));
  ASSERT_TRUE(wizard->PressNext());
  ASSERT_TRUE(WaitForPage(run, 5));
  ASSERT_TRUE(wizard->PressCancel());
  EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
  ExpectSubUpdated(firstBefore, first.Read());
  const sim::Recorder secondAfter = second.Read();
  ExpectNothingWritten(secondBefore, secondAfter);
  EXPECT_TRUE(secondAfter.log.empty()) << "the second recorder was asked: " << secondAfter.log.front();
}

// Pages that have a window but are not shown still hear about a recorder that arrives; they must
// leave the sheet's buttons to the page that is shown.
TEST_F(MonoflashTest, OnlyThePageShownSetsTheButtons) {
  {
    SCOPED_TRACE("not required, waiting, then offered");
    const RecorderFile recorder(Made(At("1.01")));
    Monoflash run(ZT_MONOFLASH_CUSTOMER, "", recorder.path());
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(WaitForPage(run, 2));
    recorder.Change([](sim::Recorder& r) { r.Unplug(); });
    ASSERT_TRUE(WaitForPage(run, 0));
    recorder.Change([](sim::Recorder& r) { r.sub.version = "1.00", r.Plug(); });
    const std::optional<Wizard> wizard = WaitForPage(run, 1);
    ASSERT_TRUE(wizard);
    // The page's own buttons settle within a look or two of the watcher.
    EXPECT_TRUE(run.Until([&] { return wizard->Next().shown && run.FindMessageBox() == nullptr; }, 3000));
    const Wizard::Button next = wizard->Next();
    EXPECT_TRUE(next.shown && next.enabled) << "the user cannot go on";
    EXPECT_EQ(next.text, "&Next");
    EXPECT_TRUE(run.Until([&] { return wizard->HasFocus(0x3024); }, 2000)) << "Enter would press Cancel";
    ASSERT_TRUE(wizard->PressNext());
    EXPECT_TRUE(WaitForPage(run, 4));
    run.Kill();
  }
  {
    SCOPED_TRACE("last warning seen, then a recorder that must switch modes");
    const RecorderFile recorder(Made(At("1.00")));
    Monoflash run(ZT_MONOFLASH_CUSTOMER, "", recorder.path());
    ASSERT_TRUE(run.started());
    std::optional<Wizard> wizard = WaitForPage(run, 1);
    ASSERT_TRUE(wizard);
    ASSERT_TRUE(wizard->PressNext());
    ASSERT_TRUE(WaitForPage(run, 4));
    recorder.Change([](sim::Recorder& r) { r.Unplug(); });
    ASSERT_TRUE(WaitForPage(run, 0));
    // It stays away long enough after the switch for page 0 to be looked at.
    recorder.Change([](sim::Recorder& r) { r.modeByte = 3, r.modeSwitchDelayMs = 6000, r.Plug(); });
    ASSERT_TRUE(run.Until([&] { return recorder.Read().modeByte != 3; })) << "the switch was never asked for";
    Sleep(300);
    EXPECT_EQ(wizard->Page(), 0);
    const Wizard::Button next = wizard->Next();
    EXPECT_FALSE(next.shown && next.enabled) << "page 0 offers " << next.text << " with no recorder to update";
    EXPECT_TRUE(WaitForPage(run, 1)) << "the switched recorder came back";
    run.Kill();
  }
}

// A double click on Start, or Enter pressed twice, starts one update, which ends on the last page.
TEST_F(MonoflashTest, StartPressedTwiceRunsOneUpdate) {
  const struct {
    const char* name;
    Bundle bundle;
    int startPage;
  } cases[] = {{"customer entry, last warning", Bundle::Customer, 4}, {"factory entry", Bundle::Factory, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RecorderFile recorder(Made(At("1.00")));
    const sim::Recorder before = recorder.Read();
    Monoflash run(ProgramOf(c.bundle), "", recorder.path());
    ASSERT_TRUE(run.started());
    std::optional<Wizard> wizard = WaitForPage(run, 1);
    ASSERT_TRUE(wizard);
    if (c.startPage == 4) {
      ASSERT_TRUE(wizard->PressNext());
      ASSERT_TRUE(WaitForPage(run, 4));
    }
    ASSERT_TRUE(wizard->PressNextTwice());

    bool boxSeen = false;
    bool finalPage = run.Until([&] {
      boxSeen |= run.FindMessageBox() != nullptr;
      const HWND sheet = run.Find("#32770", kSheetTitle);
      return sheet && Wizard(sheet).Page() == 5 && run.Find("#32770", kTitle) == nullptr;
    });
    EXPECT_TRUE(finalPage) << "the update did not end on the last page";
    // A second update would wait some ten seconds for the first one's lock before it gave up.
    EXPECT_FALSE(run.Until([&] { return run.FindMessageBox() != nullptr; }, 12000)) << "a second update reported";
    EXPECT_FALSE(boxSeen);
    ASSERT_TRUE(run.Running()) << "the wizard closed";
    EXPECT_EQ(wizard->Page(), 5);
    const sim::Recorder after = recorder.Read();
    ExpectSubUpdated(before, after);
    EXPECT_EQ(std::count(after.log.begin(), after.log.end(), std::string("E4 00")), 1) << "prepared more than once";
    ASSERT_TRUE(wizard->PressCancel());
    EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
  }
}

}  // namespace
