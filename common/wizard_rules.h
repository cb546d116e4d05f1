#pragma once
// The single-target updater's decisions about its wizard: which page a found recorder leads to,
// whether an unattended run updates, and what each page shows. The windows only gather the inputs.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "common/fw_info.h"

enum WizardPage : int {
  kPageOpening = 0,          // waiting for the recorder
  kPageVersion = 1,          // update offered
  kPageNotUpdate = 2,        // update not required
  kPageStorageMismatch = 3,  // the image does not fit the recorder's storage
  kPageUpdateStart = 4,      // last warning
  kPageUpdateEnd = 5,        // done
};
inline constexpr int kWizardPageCount = 6;

// The families of systems the updater tells apart: 1 Me (4.90), 2 2000 (5.0), 3 XP (5.1), 4 5.2,
// 5 version 6 and later, 0 anything else.
uint16_t OsClassFor(uint32_t major, uint32_t minor);

// Byte 6 of the state block is 3 while the recorder waits to be switched to storage mode.
inline constexpr size_t kDeviceStateSize = 8;
bool AsksForStorageMode(const std::array<uint8_t, kDeviceStateSize>& state);

// A factory entry with a storage check compares the recorder's storage size before offering itself.
bool NeedsStorageSize(const CFwUpBaseFwInfo& record);

// The page for an identified recorder. `storageSize` is the size read from the recorder, empty when it
// was not read or the read failed (which offers the update). A chained run (a stage of the two-stage
// wrapper) also offers the version the recorder already has.
WizardPage ChoosePage(const CFwUpBaseFwInfo& record, const FwVersion& device, bool chainedRun,
                      std::optional<uint64_t> storageSize);

// An unattended run updates factory entries always, others only when the recorder is older.
bool SilentShouldUpdate(const CFwUpBaseFwInfo& record, const FwVersion& device);

// The glossary ids the pages use.
namespace text_id {
inline constexpr uint32_t kTitle = 10000;
inline constexpr uint32_t kOpening = 11001;
inline constexpr uint32_t kVersion = 11002;
inline constexpr uint32_t kNotUpdate = 11003;
inline constexpr uint32_t kUpdateStart = 11004;
inline constexpr uint32_t kUpdateEnd = 11005;
inline constexpr uint32_t kStorageMismatch = 11006;
inline constexpr uint32_t kModel = 11010;
inline constexpr uint32_t kStart = 11011;
inline constexpr uint32_t kNext = 11012;
inline constexpr uint32_t kCancel = 11013;
inline constexpr uint32_t kFinish = 11014;
inline constexpr uint32_t kRecorder = 11015;
inline constexpr uint32_t kPreparing = 12001;
inline constexpr uint32_t kWriting = 12002;
inline constexpr uint32_t kVerifying = 12003;
inline constexpr uint32_t kUpdatedTo = 12004;
inline constexpr uint32_t kInvalidFile = 13001;
inline constexpr uint32_t kDisconnected = 13002;
inline constexpr uint32_t kUpdateFailed = 13003;
inline constexpr uint32_t kNotSupported = 13004;
inline constexpr uint32_t kCannotRead = 13005;
inline constexpr uint32_t kUnsupportedSystem = 13006;
}  // namespace text_id

// The product line's own word for the device, never translated.
inline constexpr char kPenwaveWord[] = "Penwave";

// What the pages are told about the recorder and the run.
struct PageValues {
  const CFwUpBaseFwInfo* record = nullptr;  // the entry in use; null leaves every value empty
  FwVersion deviceVersion;
  std::string deviceModel;  // as read from the recorder, trimmed
  uint64_t deviceStorageSize = 0;
  bool chainedRun = false;
  int chainedStage = 0;
};

enum class NextButton { Hidden, Shown, ShownNextOnly };  // the last also sets the wizard to Next only
enum class ChainedClose { Unchanged, Locked, Allowed };

// One page's texts and button states.
struct PageView {
  NextButton next = NextButton::Hidden;
  std::string nextText;
  std::string cancelText;
  ChainedClose chainedClose = ChainedClose::Unchanged;  // Locked: Cancel disabled, Close greyed
  std::optional<std::string> modelLine;                 // the opening page has none
  std::string comment;
};

using GlossaryLookup = std::function<std::string(uint32_t id)>;

PageView ComposePage(WizardPage page, const GlossaryLookup& text, const PageValues& values);
