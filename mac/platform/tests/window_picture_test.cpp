#include "mac/platform/window_picture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "mac/platform/platform.h"
#include "mac/platform/script.h"

namespace mac {
namespace {

// A wizard page as Reflash builds one: a box in the content whose page view holds the views, so the
// origins of box and page add up; a hidden view and a picture.
class Page {
 public:
  explicit Page(Platform& mac) : window(mac.application(), "Firmware update program", Rect{{0, 0}, {560, 380}}) {
    Box& box = window.make<Box>(Rect{{10, 20}, {540, 340}});
    window.contentView().addSubview(box);
    View& page = window.make<View>(Rect{{5, 5}, {500, 300}});
    box.setContentView(&page);
    mac.fileManager().createFileAtPath("/wizard1.jpg", std::string_view("\xFF\xD8\xFF"));
    ImageView& picture = window.make<ImageView>(Rect{{20, 60}, {160, 280}});
    picture.setImage(Image::initWithContentsOfFile(mac.fileManager(), "/wizard1.jpg"));
    page.addSubview(picture);
    page.addSubview(window.make<TextField>(Rect{{200, 60}, {340, 240}}, std::string("Line \"one\"\n\tTwo \\ three")));
    TextField& hidden = window.make<TextField>(Rect{{0, 0}, {10, 10}}, std::string("hidden"));
    page.addSubview(hidden);
    hidden.setHidden(true);
    Button& start = window.make<Button>(Rect{{444, 12}, {96, 32}}, std::string("Start"));
    start.setKeyEquivalent("\r");
    start.setEnabled(false);
    page.addSubview(start);
    window.standardWindowButton(WindowButton::Close).setEnabled(false);
  }
  Window window;
};

TEST(WindowPicture, HoldsWhatIsShownWhereItIsInTheWindow) {
  Platform mac;
  Page page(mac);
  EXPECT_FALSE(PictureOfScreen(mac.application())) << "nothing is visible yet";
  page.window.makeKeyAndOrderFront();

  const auto screen = PictureOfScreen(mac.application());
  ASSERT_TRUE(screen);
  EXPECT_FALSE(screen->over);
  const WindowPicture& w = screen->window;
  EXPECT_EQ(w.title, "Firmware update program");
  EXPECT_FALSE(w.closable);
  ASSERT_EQ(w.elements.size(), 3u) << "the hidden text is left out";
  EXPECT_EQ(w.elements[0].kind, PictureElement::Kind::Image);
  EXPECT_EQ(w.elements[0].file, mac.fileManager().hostPath("/wizard1.jpg")->string());
  EXPECT_EQ(w.elements[0].frame.origin.x, 35);  // 10 (box) + 5 (page) + 20
  EXPECT_EQ(w.elements[0].frame.origin.y, 85);  // 20 + 5 + 60
  EXPECT_EQ(w.elements[1].text, "Line \"one\"\n\tTwo \\ three");
  EXPECT_EQ(w.elements[2].kind, PictureElement::Kind::Button);
  EXPECT_FALSE(w.elements[2].enabled);
  EXPECT_TRUE(w.elements[2].isDefault);

  // What is written is read back the same, the texts with their quotes, tabs and line feeds.
  std::string error;
  const auto back = ReadScreenPicture(WriteScreenPicture(*screen), error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(*back, *screen);
}

TEST(WindowPicture, TheSheetOrElseTheAlertPanelIsOverTheWindowShownLast) {
  Platform mac;
  Application& app = mac.application();
  Window behind(app, "Behind");
  behind.makeKeyAndOrderFront();
  Window front(app, "Front");
  front.makeKeyAndOrderFront();
  Window sheet(app, "", Rect{{0, 0}, {440, 130}});
  ProgressIndicator& bar = sheet.make<ProgressIndicator>(Rect{{20, 50}, {380, 20}});
  sheet.contentView().addSubview(bar);
  bar.setDoubleValue(54.6);
  app.beginSheet(sheet, front);

  auto screen = PictureOfScreen(app);
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->window.title, "Front");
  ASSERT_TRUE(screen->over);
  EXPECT_EQ(screen->over->kind, WindowPicture::Kind::Sheet);
  ASSERT_EQ(screen->over->elements.size(), 1u);
  EXPECT_EQ(screen->over->elements[0].percent, 54);

  // An alert panel, asked while the sheet is gone, stands over the window; the user answers it.
  app.endSheet(sheet);
  sheet.orderOut();
  mac.simulation().then("look", [&] {
    return [&] {
      screen = PictureOfScreen(app);
      app.stopModal();
    };
  });
  app.runAlertPanel("Quit?", "The application will be finished.", "Yes", "No");
  ASSERT_TRUE(screen && screen->over);
  EXPECT_EQ(screen->window.title, "Front");
  EXPECT_EQ(screen->over->kind, WindowPicture::Kind::Alert);
  EXPECT_EQ(screen->over->title, "Quit?");
}

TEST(WindowPicture, AFileThatIsNoPictureIsRefusedWithItsLine) {
  const std::string head = "zt-mac-screen 1\n";
  struct Case {
    std::string text;
    const char* error;
  };
  const Case cases[] = {
      {"", "the file is empty"},
      {"zt-mac-screen 2\n", "line 1: not a picture of a window (\"zt-mac-screen 1\" was expected)"},
      {head, "no window in the file"},
      {head + "text 0 0 10 10 \"a\"\n", "line 2: an element before its window"},
      {head + "window 10 10 closable \"t\"\ntext 0 0 10 \"a\"\n", "line 3: \"text\" with these values is no element"},
      {head + "window 10 10 closable \"t\"\ntext 0 0 10 -1 \"a\"\n", "line 3: \"text\" with these values is no element"},
      {head + "window 10 10 closable \"t\"\nbutton 0 0 10 10 on plain \"a\"\n", "line 3: \"button\" with these values is no element"},
      {head + "window 10 10 closable \"t\"\nprogress 0 0 10 10 101\n", "line 3: progress X Y W H takes a share from 0 to 100, or running"},
      {head + "window 10 10 closable \"t\nx\"\n", "line 2: a text without its closing quote"},
      {head + "window 10 10 closable \"a\\qb\"\n", "line 2: a text with an unknown escape"},
      {head + "window 10 closable \"t\"\n", "line 2: window W H closable|unclosable \"TITLE\" was expected"},
      {head + "window 1 1 closable \"\"\nsheet 1 1 closable \"\"\nalert 1 1 closable \"\"\n", "line 4: a third window"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(ReadScreenPicture(c.text, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(WindowPicture, TheCaptureMoveWritesTheFileAndTellsTheTranscriptWhatItHolds) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("zt-capture-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "page.window").string();
  {
    Platform mac;
    Page page(mac);
    mac.runLoop().scheduledTimerWithTimeInterval(1.0, false, [&](Timer&) { page.window.makeKeyAndOrderFront(); });
    RunScript(mac.simulation(), "capture \"" + file + "\"\n");
    EXPECT_EQ(mac.clock().nowMs(), 1000u) << "the capture waits for a window";
    std::ifstream in(file);
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    const auto read = ReadScreenPicture(text.str(), error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(*read, *PictureOfScreen(mac.application()));
    const std::string transcript = mac.transcript().text();
    EXPECT_NE(transcript.find("captured \"" + file + "\"\n              window \"Firmware update program\"\n"
                              "                (picture wizard1.jpg)\n                | Line \"one\"\n"),
              std::string::npos)
        << transcript;

    // A file that cannot be written fails the run, naming the script's line.
    try {
      RunScript(mac.simulation(), "\ncapture \"" + (dir / "no" / "such.window").string() + "\"\n");
      ADD_FAILURE() << "a capture into a missing folder succeeded";
    } catch (const SimulationError& e) {
      EXPECT_EQ(std::string(e.what()), "line 2: capture: " + (dir / "no" / "such.window").string() + " cannot be written");
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace mac
