#include "win/wrapper/wrapper_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ColumnOffset, CentresTheColumnAndRoundsTowardZero) {
  const struct {
    int pageWidth;
    int offset;
  } cases[] = {{450, 25}, {451, 25}, {400, 0}, {401, 0}, {399, 0}, {398, -1}, {100, -150}, {0, -200}};
  for (const auto& c : cases) EXPECT_EQ(ColumnOffset(c.pageWidth), c.offset) << c.pageWidth;
}

TEST(AfterStageEnded, OnlyTheFirstStagesMarkerLeadsOn) {
  const struct {
    int stage;
    bool marker;
    AfterStage after;
  } cases[] = {
      {1, true, AfterStage::ShowSecondPage},
      {1, false, AfterStage::EndRun},
      {2, true, AfterStage::EndRun},
      {2, false, AfterStage::EndRun},
  };
  for (const auto& c : cases) EXPECT_EQ(AfterStageEnded(c.stage, c.marker), c.after) << c.stage << " " << c.marker;
}


}  // namespace
