#include "mac/platform/script.h"

#include <gtest/gtest.h>

#include "mac/platform/platform.h"
#include "sim/recorder.h"

namespace mac {
namespace {

// A small wizard: "Next" is enabled two seconds after the page shows; "Cancel" asks first; the
// recorder's removal is reported in a sheet.
class Wizard {
 public:
  explicit Wizard(Platform& mac) : mac_(mac), window_(mac.application(), "Firmware update program") {
    View& content = window_.contentView();
    content.addSubview(text_);
    content.addSubview(cancel_);
    content.addSubview(next_);
    next_.setEnabled(false);
    next_.setKeyEquivalent("\r");
    timer_ = mac.runLoop().scheduledTimerWithTimeInterval(2.0, false, [this](Timer&) { next_.setEnabled(true); });
    next_.setAction([this](Button&) { text_.setStringValue("Updating"); });
    cancel_.setAction([this](Button&) {
      if (mac_.application().runAlertPanel("Quit?", "The application will be finished.", "Yes", "No") == NSAlertDefaultReturn) {
        mac_.application().terminate();
      }
    });
    window_.makeKeyAndOrderFront();
  }
  ~Wizard() { timer_->invalidate(); }

 private:
  Platform& mac_;
  Window window_;
  TextField& text_ = window_.make<TextField>(Rect{}, std::string("Connect the recorder.\nThen press Next."));
  Button& cancel_ = window_.make<Button>(Rect{}, "Cancel");
  Button& next_ = window_.make<Button>(Rect{}, "Next");
  std::shared_ptr<Timer> timer_;
};

TEST(PlatformScript, DrivesAWindowAndTheTranscriptShowsWhatTheUserSaw) {
  Platform mac;
  Wizard wizard(mac);
  mac.application().finishLaunching();
  RunScript(mac.simulation(), R"(
# the user waits for Next, then changes their mind twice
expect-text "Then press Next."
click "Next" in "Firmware update program"   # enabled after two seconds
expect-text "Updating"
click "Cancel"
alert 2
click "Cancel"
alert 1
expect-end
)");
  const std::string expected =
      "     0.000  window \"Firmware update program\" shown\n"
      "              | Connect the recorder.\n"
      "              | Then press Next.\n"
      "              [Cancel]\n"
      "              [Next] (disabled)\n"
      "     0.000  application launched\n"
      "     2.000  \"Firmware update program\" [Next] enabled\n"
      "     2.000  click [Next] in \"Firmware update program\"\n"
      "     2.000  \"Firmware update program\" text\n"
      "              | Updating\n"
      "     2.000  click [Cancel] in \"Firmware update program\"\n"
      "     2.000  alert \"Quit?\" shown\n"
      "              | The application will be finished.\n"
      "              [Yes]\n"
      "              [No]\n"
      "     2.000  alert answered [No]\n"
      "     2.000  alert \"Quit?\" gone\n"
      "     2.000  click [Cancel] in \"Firmware update program\"\n"
      "     2.000  alert \"Quit?\" shown\n"
      "              | The application will be finished.\n"
      "              [Yes]\n"
      "              [No]\n"
      "     2.000  alert answered [Yes]\n"
      "     2.000  alert \"Quit?\" gone\n"
      "     2.000  application terminated\n";
  EXPECT_EQ(mac.transcript().text(), expected);
}

TEST(PlatformScript, AMoveThatCannotBeMadeNamesItsLineAndWhatWasOnScreen) {
  Platform mac;
  Wizard wizard(mac);
  try {
    RunScript(mac.simulation(), "wait 1s\nclick \"Finish\"\n");
    FAIL() << "there is no Finish button";
  } catch (const SimulationError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("line 2: click \"Finish\": not possible within 10 s"), std::string::npos) << message;
    EXPECT_NE(message.find("window \"Firmware update program\"\n    | Connect the recorder."), std::string::npos) << message;
    EXPECT_NE(message.find("[Cancel]"), std::string::npos) << message;
  }
  EXPECT_EQ(mac.clock().nowMs(), 11000u);
}

TEST(PlatformScript, DrivesTheRecorderAndTheVolume) {
  sim::Recorder recorder;
  Platform mac;
  mac.connectRecorder(recorder);
  RunScript(mac.simulation(), "busy on\nunplug\nwait 500ms\nplug\nwait 1.5s\n");
  ASSERT_TRUE(mac.volumes().find("/Volumes/ZT-5100"));
  EXPECT_EQ(mac.volumes().FSEjectVolumeSync(mac.volumes().find("/Volumes/ZT-5100")->refNum), fBsyErr);
  const std::string text = mac.transcript().text();
  EXPECT_NE(text.find("recorder unplugged"), std::string::npos);
  EXPECT_NE(text.find("recorder plugged in"), std::string::npos);
  EXPECT_NE(text.find("volume /Volumes/ZT-5100 (disk2s1) mounted"), std::string::npos) << text;
}

TEST(PlatformScript, LinesThatCannotBeReadAreReportedBeforeAnythingRuns) {
  struct Case {
    const char* script;
    const char* message;
  };
  const Case cases[] = {
      {"plug\nwait 2 s\n", "line 2: a duration such as 2s or 500ms was expected"},
      {"click Next", "line 1: \"click\" with these arguments is not a move"},
      {"click \"Next", "line 1: text without its closing quote"},
      {"\n\nalert 4", "line 3: alert takes the button's number, 1 to 3"},
      {"expect-text \"a\\qb\"", "line 1: unknown escape \\q"},
      {"busy -2", "line 1: busy takes a count, on or off"},
      {"password maybe", "line 1: password takes grant, refuse or cancel"},
      {"dance", "line 1: \"dance\" with these arguments is not a move"},
      {"\"quoted\"", "line 1: a line starts with its command"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    Platform mac;
    try {
      QueueScript(mac.simulation(), c.script);
      ADD_FAILURE() << "accepted";
    } catch (const SimulationError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(mac.simulation().pendingMoves(), 0u);
  }
}

}  // namespace
}  // namespace mac

namespace mac {
namespace {

TEST(ScriptSections, EachProgramOfARunGetsItsPartWithTheLinesWhereTheyWere) {
  const std::string script =
      "click \"Next\"\n"
      "for \"-nc1\"\n"
      "click \"Start\"\n"
      "for \"Firmware Update\"\n"
      "alert 1\n"
      "for \"-nc2\"  # the second stage\n"
      "quit\n";
  struct Case {
    bool top;
    const char* name;
    std::vector<std::string> arguments;
    const char* part;
  };
  const Case cases[] = {
      {true, "TWINFLASH", {}, "click \"Next\"\n\n\n\n\n\n\n"},
      {true, "Firmware Update", {"-nc1"}, "click \"Next\"\n\n\n\n\n\n\n"},
      {false, "Firmware Update", {"-nc1"}, "\n\nclick \"Start\"\n\n\n\n\n"},
      {false, "Firmware Update", {"-nc2"}, "\n\n\n\nalert 1\n\n\n"},
      {false, "Reflash", {"-x", "-nc2"}, "\n\n\n\n\n\nquit\n"},
      {false, "Other", {"-nc3"}, "\n\n\n\n\n\n\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScriptForProgram(script, c.top, c.name, c.arguments), c.part) << c.name;
  }
  // The parts keep their line numbers in messages.
  try {
    ParseScript(ScriptForProgram("for \"-nc1\"\nclick \"A\"\nfrobnicate\n", false, "x", {"-nc1"}));
    FAIL() << "a line that is no move";
  } catch (const SimulationError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("line 3:", 0), 0u) << error.what();
  }
}

}  // namespace
}  // namespace mac
