#include "common/wizard_rules.h"

#include <gtest/gtest.h>

#include <map>

namespace {

CFwUpBaseFwInfo Entry(const char* version, bool factory = false, int32_t storageCheck = 0, uint64_t storage = 0) {
  CFwUpBaseFwInfo entry;
  entry.Version = ParseVersion(version);
  entry.IsFactory = factory;
  entry.StorageCheck = storageCheck;
  entry.StorageSize = storage;
  entry.Model = "ZT-5100";
  return entry;
}

struct ChoiceCase {
  const char* name;
  CFwUpBaseFwInfo entry;
  const char* device;
  bool chained;
  std::optional<uint64_t> storage;
  WizardPage page;
};

TEST(ChoosePage, FollowsVersionsStorageAndChainedRuns) {
  const ChoiceCase cases[] = {
      {"same version offers nothing", Entry("1.01"), "1.01", false, {}, kPageNotUpdate},
      {"same version in a chained run is offered", Entry("1.01"), "1.01", true, {}, kPageVersion},
      {"a letter makes the recorder newer", Entry("1.01"), "1.01a", false, {}, kPageNotUpdate},
      {"newer stays newer in a chained run", Entry("1.01"), "1.01a", true, {}, kPageNotUpdate},
      {"a letter makes the bundle newer", Entry("1.00a"), "1.00", false, {}, kPageVersion},
      {"major compared first", Entry("1.00"), "0.99", false, {}, kPageVersion},
      {"older recorder", Entry("2.00"), "1.99z", false, {}, kPageVersion},
      {"factory: equal storage", Entry("1.00", true, 1, 500), "9.00", false, 500, kPageVersion},
      {"factory: other storage", Entry("1.00", true, 1, 500), "9.00", false, 501, kPageStorageMismatch},
      {"factory: failed size read offers the update", Entry("1.00", true, 1, 500), "9.00", false, {},
       kPageVersion},
      {"factory without check ignores the size", Entry("1.00", true, 0, 500), "1.00", false, 7, kPageVersion},
  };
  for (const ChoiceCase& c : cases) {
    EXPECT_EQ(ChoosePage(c.entry, ParseVersion(c.device), c.chained, c.storage), c.page) << c.name;
  }
}

TEST(SilentShouldUpdate, OnlyOlderRecordersUnlessFactory) {
  EXPECT_TRUE(SilentShouldUpdate(Entry("1.01"), ParseVersion("1.00")));
  EXPECT_FALSE(SilentShouldUpdate(Entry("1.01"), ParseVersion("1.01")));
  EXPECT_FALSE(SilentShouldUpdate(Entry("1.01"), ParseVersion("1.01a")));
  EXPECT_TRUE(SilentShouldUpdate(Entry("1.01", true, 1, 500), ParseVersion("2.00")));
}

TEST(OsClassFor, NamesTheSystemFamilies) {
  const struct {
    uint32_t major, minor;
    uint16_t osClass;
  } cases[] = {{4, 10, 0}, {4, 90, 1}, {5, 0, 2}, {5, 1, 3}, {5, 2, 4}, {5, 3, 0}, {6, 0, 5}, {10, 0, 5}, {3, 51, 0}};
  for (const auto& c : cases) EXPECT_EQ(OsClassFor(c.major, c.minor), c.osClass) << c.major << "." << c.minor;
}

TEST(AsksForStorageMode, ReadsByteSix) {
  EXPECT_TRUE(AsksForStorageMode({0, 0, 0, 0, 0, 0, 3, 0}));
  EXPECT_FALSE(AsksForStorageMode({3, 3, 3, 3, 3, 3, 2, 3}));
}

// English as stored in the glossary, abbreviated where only the placeholders matter.
std::string English(uint32_t id) {
  static const std::map<uint32_t, std::string> texts = {
      {11001, "v%s connect %s / %s"},  {11002, "%s cur %s new %s press [%s]"},
      {11003, "%s cur %s new %s"},     {11004, "%s close apps (%s unused)"},
      {11005, "updated to %s, unplug %s"}, {11006, "%s sizes %s vs %s"},
      {11010, "Model: %s"},            {11011, "&Start"},
      {11012, "&Next"},                {11013, "Cancel"},
      {11014, "&Finish"},              {11015, "Recorder"},
  };
  const auto found = texts.find(id);
  return found == texts.end() ? std::string() : found->second;
}

TEST(ComposePage, ModelComesFromTheRecorderOnlyForCustomerEntries) {
  CFwUpBaseFwInfo customer = Entry("1.01");
  CFwUpBaseFwInfo factory = Entry("1.01", true);
  PageValues values{&customer, ParseVersion("1.00"), "ZT-5100 (dealer)", 0, false, 0};
  EXPECT_EQ(ComposePage(kPageVersion, English, values).modelLine, "Model: ZT-5100 (dealer)");
  values.record = &factory;
  EXPECT_EQ(ComposePage(kPageVersion, English, values).modelLine, "Model: ZT-5100");
}

TEST(ComposePage, VersionPageNamesItsOwnButton) {
  CFwUpBaseFwInfo customer = Entry("1.01");
  CFwUpBaseFwInfo factory = Entry("1.01", true);
  PageValues values{&customer, ParseVersion("1.00"), "M", 0, false, 0};
  PageView view = ComposePage(kPageVersion, English, values);
  EXPECT_EQ(view.nextText, "&Next");
  EXPECT_EQ(view.comment, "M cur 1.00 new 1.01 press [&Next]");
  values.record = &factory;
  view = ComposePage(kPageVersion, English, values);
  EXPECT_EQ(view.nextText, "&Start");
  EXPECT_EQ(view.comment, "ZT-5100 cur 1.00 new 1.01 press [&Start]");
}

TEST(ComposePage, PenwaveEntriesSayPenwave) {
  CFwUpBaseFwInfo entry = Entry("1.02");
  PageValues values{&entry, {}, "", 0, false, 0};
  EXPECT_EQ(ComposePage(kPageOpening, English, values).comment, "v1.02 connect Recorder / Recorder");
  entry.IsPenwave = 1;
  EXPECT_EQ(ComposePage(kPageOpening, English, values).comment, "v1.02 connect Penwave / Penwave");
  EXPECT_FALSE(ComposePage(kPageOpening, English, values).modelLine.has_value());
}

TEST(ComposePage, ButtonsAndClosingPerPageAndStage) {
  CFwUpBaseFwInfo entry = Entry("1.01");
  struct Case {
    WizardPage page;
    bool chained;
    int stage;
    NextButton next;
    const char* cancel;
    ChainedClose close;
  };
  const Case cases[] = {
      {kPageOpening, false, 0, NextButton::Hidden, "Cancel", ChainedClose::Unchanged},
      {kPageOpening, true, 1, NextButton::Hidden, "Cancel", ChainedClose::Locked},
      {kPageVersion, true, 2, NextButton::Shown, "Cancel", ChainedClose::Locked},
      {kPageNotUpdate, false, 0, NextButton::Hidden, "&Finish", ChainedClose::Unchanged},
      {kPageNotUpdate, true, 1, NextButton::Hidden, "&Next", ChainedClose::Allowed},
      {kPageNotUpdate, true, 2, NextButton::Hidden, "&Finish", ChainedClose::Allowed},
      {kPageStorageMismatch, true, 1, NextButton::Hidden, "&Finish", ChainedClose::Allowed},
      {kPageUpdateStart, true, 1, NextButton::ShownNextOnly, "Cancel", ChainedClose::Locked},
      {kPageUpdateEnd, true, 1, NextButton::Hidden, "&Next", ChainedClose::Allowed},
      {kPageUpdateEnd, false, 0, NextButton::Hidden, "&Finish", ChainedClose::Unchanged},
  };
  for (const Case& c : cases) {
    const PageValues values{&entry, {}, "", 0, c.chained, c.stage};
    const PageView view = ComposePage(c.page, English, values);
    EXPECT_EQ(view.next, c.next) << c.page << "/" << c.stage;
    EXPECT_EQ(view.cancelText, c.cancel) << c.page << "/" << c.stage;
    EXPECT_EQ(view.chainedClose, c.close) << c.page << "/" << c.stage;
  }
}

TEST(ComposePage, StorageSizesInFullDecimal) {
  CFwUpBaseFwInfo entry = Entry("1.00", true, 1, 536870912);
  const PageValues values{&entry, {}, "", 1073741824ull, false, 0};
  EXPECT_EQ(ComposePage(kPageStorageMismatch, English, values).comment, "ZT-5100 sizes 1073741824 vs 536870912");
}

TEST(ComposePage, WithoutEntryEverythingIsEmptyButSafe) {
  const PageValues values{};
  const PageView view = ComposePage(kPageUpdateEnd, English, values);
  EXPECT_EQ(view.comment, "updated to , unplug ");
}

}  // namespace
