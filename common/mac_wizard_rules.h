#pragma once
// The Mac updater's decisions about its wizard, as pure functions: the run mode from the arguments,
// the page a connected recorder leads to, where a page's notification leads, and which texts and
// buttons each page shows. The controllers only gather the inputs and act on the answers.

#include <cstdint>
#include <string>
#include <vector>

// The six pages of the Mac wizard, by the numbers the controllers pass around.
enum MacPage : int {
  kMacPageNone = 0,
  kMacPageConnect = 1,    // connect the recorder, wait for it
  kMacPageConfirm = 2,    // versions shown, confirm the update
  kMacPageNoUpdate = 3,   // no update needed
  kMacPageStart = 4,      // ready to start
  kMacPageFinished = 5,   // update finished
  kMacPageInvalid = 6,    // the connected device cannot be updated by this firmware
};

// 0 started by the user, 1 the wrapper's first stage ("-nc1"), 2 its second ("-nc2").
enum MacRunMode : int { kRunByUser = 0, kRunStage1 = 1, kRunStage2 = 2 };

struct MacCommandOptions {
  int runMode = kRunByUser;
  bool quitLock = false;
};

// Every argument in order, the program's path included: one that contains "-nc1" anywhere selects
// stage 1, then one that contains "-nc2" selects stage 2; a later argument wins. Either sets the
// quit lock.
MacCommandOptions ParseMacCommandOptions(const std::vector<std::string>& arguments);

struct MacDeviceFacts {
  bool held = false;         // the device manager holds a recorder
  bool invalid = false;      // its device id fits neither firmware entry
  bool factory = false;      // the configured Type is FACTORY
  int versionOrder = 1;      // 1 the configured image is newer than the recorder's, 0 equal, -1 older
};

struct MacFirstPage {
  MacPage page = kMacPageConnect;
  bool createCompleteMarker = false;  // this stage is finished: the wrapper may go on
  bool releaseQuitLock = false;       // the close button comes back and the quit lock is cleared
};

// The page for the connected device (at launch, and when page 1 reports an arrival). A stage of the
// wrapper also offers the version the recorder already has.
MacFirstPage ChooseMacFirstPage(const MacDeviceFacts& facts, int runMode);

// What a page notification leads to.
enum class MacSwitch {
  ShowPage,   // show `page`
  Finish,     // the finish path (page 5, or the end of a first stage)
  EndProgram,
  Nothing,
};
struct MacSwitchDecision {
  MacSwitch action = MacSwitch::Nothing;
  MacPage page = kMacPageNone;
  bool setQuitLock = false;  // back to page 1 from page 3 in a stage of the wrapper
};

// Names of the page notifications and their userInfo key.
inline constexpr const char* kNotifyCloseWizard1 = "fwUpNotifyCloseWizard1";
inline constexpr const char* kNotifyCloseWizard21 = "fwUpNotifyCloseWizard21";
inline constexpr const char* kNotifyCloseWizard22 = "fwUpNotifyCloseWizard22";
inline constexpr const char* kNotifyCloseWizard23 = "fwUpNotifyCloseWizard23";
inline constexpr const char* kNotifyCloseWizard3 = "fwUpNotifyCloseWizard3";
inline constexpr const char* kNotifyNextWindowType = "fwUpNotifyItemCloseWindowInfoNextWindowType";

// `nextPage` is the page number the notification carries, or the page shown when it carries none.
// "fwUpNotifyCloseWizard1" is decided by ChooseMacFirstPage instead (answered as Nothing here).
MacSwitchDecision DecideMacSwitch(const std::string& notification, int nextPage, int runMode);

// The finish path: a first stage leaves its marker and ends; otherwise page 5.
struct MacFinish {
  bool createCompleteMarker = false;
  bool endProgram = false;
};
MacFinish DecideMacFinish(int runMode);

// Glossary ids of the Mac pages.
namespace mac_text {
inline constexpr uint32_t kTitle = 10000;
inline constexpr uint32_t kMenuAbout = 10001;
inline constexpr uint32_t kMenuHide = 10002;
inline constexpr uint32_t kMenuHideOthers = 10003;
inline constexpr uint32_t kMenuShowAll = 10004;
inline constexpr uint32_t kMenuQuit = 10005;
inline constexpr uint32_t kConnect = 11001;
inline constexpr uint32_t kConfirm = 11002;
inline constexpr uint32_t kNoUpdate = 11003;
inline constexpr uint32_t kStart = 11004;
inline constexpr uint32_t kFinished = 11005;
inline constexpr uint32_t kInvalid = 11007;
inline constexpr uint32_t kModel = 11010;
inline constexpr uint32_t kCancelButton = 11013;
inline constexpr uint32_t kRecorder = 11015;
inline constexpr uint32_t kStartButton = 11016;
inline constexpr uint32_t kNextButton = 11017;
inline constexpr uint32_t kFinishButton = 11019;
inline constexpr uint32_t kPreparing = 12001;
inline constexpr uint32_t kWriting = 12002;
inline constexpr uint32_t kVerifying = 12003;
inline constexpr uint32_t kDisconnected = 13002;
inline constexpr uint32_t kUpdateFailed = 13003;
inline constexpr uint32_t kPlayerRunning = 13005;
inline constexpr uint32_t kOldSystem = 13006;
inline constexpr uint32_t kTwoUsers = 13007;
inline constexpr uint32_t kInstallDriver = 13008;
inline constexpr uint32_t kRestartRequired = 13009;
inline constexpr uint32_t kAlreadyRunning = 13010;
inline constexpr uint32_t kUserSwitched = 13011;
inline constexpr uint32_t kDriverFailed = 13012;
inline constexpr uint32_t kVolumesBusy = 13013;
inline constexpr uint32_t kPlayerStarted = 13014;
inline constexpr uint32_t kRestartQuestion = 13100;
inline constexpr uint32_t kYes = 13101;
inline constexpr uint32_t kNo = 13102;
}  // namespace mac_text

// One page's texts, as glossary ids, and whether its buttons take the quit lock.
struct MacPageLayout {
  uint32_t explanation = 0;
  bool modelLine = false;
  uint32_t firstButton = 0;       // Cancel (pages 1, 2) or Finish (pages 3 to 6)
  uint32_t secondButton = 0;      // Next/Start (page 2), Start (page 4); 0 when the page has none
  bool firstButtonEnabled = true;
};
MacPageLayout MacPageLayoutFor(MacPage page, int runMode, bool factory, bool quitLock);

// "%1d.%02d" of the major and minor numbers; the revision is not shown.
std::string MacVersionText(uint16_t major, uint16_t minor);
