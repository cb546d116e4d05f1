#pragma once
// The two-stage wrapper's small decisions, apart from the windows that act on them.

#include <cstdint>

// The glossary ids of the wrapper's texts.
namespace wrapper_text {
inline constexpr uint32_t kTitle = 10000;
inline constexpr uint32_t kOpening = 12000;        // "%s" is the model name
inline constexpr uint32_t kConnect = 12010;
inline constexpr uint32_t kFirstStageDone = 12011;
inline constexpr uint32_t kConnectAgain = 12012;
inline constexpr uint32_t kUpdateFailed = 13003;
inline constexpr uint32_t kNext = 11012;
inline constexpr uint32_t kCancel = 11013;
inline constexpr uint32_t kFinish = 11014;
inline constexpr uint32_t kUnsupportedSystem = 13006;
}  // namespace wrapper_text

// Texts and pictures stand in a column this wide, centred on the page.
inline constexpr int kColumnWidth = 400;

// How far right of the page's left edge the column starts: negative on a page narrower than the
// column, rounded toward zero.
constexpr int ColumnOffset(int pageWidth) { return (pageWidth - kColumnWidth) / 2; }

// What follows a stage that has ended. Only stage 1's marker leads on; whatever stage 2 leaves, and a
// stage that left nothing, end the run.
enum class AfterStage { ShowSecondPage, EndRun };
constexpr AfterStage AfterStageEnded(int stageNo, bool markerPresent) {
  return stageNo == 1 && markerPresent ? AfterStage::ShowSecondPage : AfterStage::EndRun;
}

// The stage's whole command line: the switch after one blank, the program being named apart.
constexpr const wchar_t* StageCommandLine(int stageNo) { return stageNo == 1 ? L" -nc1" : L" -nc2"; }
