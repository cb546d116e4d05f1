// The model name as the wizard shows it, whichever way the recorder pads it: a recorder that fills its
// 8-character name with zero bytes must read exactly like one that fills it with blanks.

#include <gtest/gtest.h>

#include <string>

#include "win/updater/tests/monoflash_driver.h"

namespace {

const std::string kSheetTitle = "Firmware update program - (SUB CPU)";

// What page 1 shows for a recorder named `model` at 1.00 against the customer bundle at 1.01.
struct PageOne {
  std::string modelLine;
  std::string comment;
};

PageOne ExpectedPageOne(const std::string& model) {
  return {"Model: " + model, "The " + model +
                                 " connection is detected. \n\nCurrent firmware version\t\t1.00\n New Firmware "
                                 "version\t\t1.01\n\nThe firmware will be updated.\n\n If it is OK, press the [&Next] "
                                 "button."};
}

PageOne PageOneFor(const std::string& model, sim::ModelPadding padding) {
  sim::Recorder r;
  r.model = model;
  r.modelPadding = padding;
  r.sub.version = "1.00";
  const e2e::RecorderFile recorder(r);
  e2e::Monoflash run(ZT_MONOFLASH_CUSTOMER, "", recorder.path());
  EXPECT_TRUE(run.started());
  const std::optional<e2e::Wizard> wizard = e2e::WaitForPage(run, kSheetTitle, 1);
  if (!wizard) return {};
  PageOne page{wizard->PageText(1001), wizard->PageText(1002)};
  EXPECT_TRUE(wizard->PressCancel());
  EXPECT_EQ(run.WaitExit(), std::optional<DWORD>(1));
  return page;
}

TEST(MonoflashModel, ZeroPaddedNameReadsLikeABlankPaddedOne) {
  const struct {
    const char* model;  // as the recorder keeps it; the reply pads it to 8 bytes
  } cases[] = {
      {"ZT-5100"},   // one byte of padding
      {"ZT-51"},     // three
      {"ZT-5100B"},  // none: the name fills the reply
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    const PageOne blank = PageOneFor(c.model, sim::ModelPadding::Blank);
    const PageOne zero = PageOneFor(c.model, sim::ModelPadding::Zero);
    const PageOne expected = ExpectedPageOne(c.model);
    EXPECT_EQ(blank.modelLine, expected.modelLine);
    EXPECT_EQ(blank.comment, expected.comment);
    EXPECT_EQ(zero.modelLine, expected.modelLine);
    EXPECT_EQ(zero.comment, expected.comment);
  }
}

}  // namespace
