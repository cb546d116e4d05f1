#pragma once
// FwUpIniFileManager: the typed values of the bundle's "FwUpDate.INI": where the image goes, how long
// it is, which model, version and device id it is for, customer or factory, which processor, and
// whether the voice player may run meanwhile. It knows the [FIRMWARE] entry and an optional
// [FIRMWARE2] entry (image "Firm2.bin"), selected when the recorder reports the second device id.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mac/shared/ini_file.h"
#include "mac/shared/versions.h"

class FwUpIniFileManager {
 public:
  // How a refused configuration is told: the title and the message (a critical alert panel in the
  // program).
  using ErrorPanel = std::function<void(const std::string& title, const std::string& message)>;

  // The shared instance made from the file at `path` (the previous one goes first); nothing for no
  // path, an unreadable file, or a configuration that is refused.
  static FwUpIniFileManager* iniFileManagerObject(std::optional<std::string_view> path);
  static FwUpIniFileManager* getObject();
  static void releaseObject();
  // Where the refusals go; by default an alert panel of the running program.
  static void setErrorPanel(ErrorPanel panel);

  explicit FwUpIniFileManager(const FwUpIniFile& file) : file_(file) {}

  // Loads and checks the whole file; false, after its one message, for the first missing or invalid
  // item.
  bool getValues();

  uint32_t startAddress() const { return startAddress_; }
  uint32_t length() const { return length_; }
  std::optional<std::string> model() const { return model_; }
  void version(_FIRM_VERSION* version) const {
    if (version) *version = version_;
  }
  uint16_t deviceID() const { return deviceID_; }
  uint16_t type() const { return type_; }
  uint16_t deviceType() const { return deviceType_; }
  uint8_t target() const { return target_; }
  bool admitLaunch() const { return admitLaunch_; }
  bool isFirm2Bin() const { return isFirm2Bin_; }

  void setStartAddress(uint32_t value) { startAddress_ = value; }
  void setLength(uint32_t value) { length_ = value; }
  void setDeviceID(uint16_t value) { deviceID_ = value; }
  void setModel(std::optional<std::string_view> model) {
    if (model) model_ = std::string(*model);
  }
  void setType(uint16_t value) {
    if (value <= 1) type_ = value;
  }
  void setDeviceType(uint16_t value) {
    if (value <= 1) deviceType_ = value;
  }
  void setTarget(uint8_t value) {
    if (value <= 1) target_ = value;
  }

  // 1 when the configured version is newer than the recorder's, 0 equal, -1 older; 1 for no version.
  int compareWithVersion(const _FIRM_VERSION* recorder) const;

  bool isFirmware2Section() const;
  // Selects the [FIRMWARE2] entry when its DeviceID is `deviceId`.
  bool isFirmware2Device(uint16_t deviceId);
  // Back to the [FIRMWARE] entry when the second one is selected.
  void initIsFirm2Bin();

  static constexpr uint16_t kTypeCustomer = 0;
  static constexpr uint16_t kTypeFactory = 1;

 private:
  void resetEntry();
  // Fills the entry from a section, taking only what is present and known.
  void loadTolerant(const IniSection& section);

  const FwUpIniFile& file_;
  uint32_t startAddress_ = 0;
  uint32_t length_ = 0;
  std::optional<std::string> model_;
  _FIRM_VERSION version_;
  uint16_t deviceID_ = 0;
  uint16_t type_ = 0;
  uint16_t deviceType_ = 0;
  uint8_t target_ = 0;
  bool isFirm2Bin_ = false;
  bool admitLaunch_ = false;
};

// The messages of a refused configuration; the texts are the program's own, in Japanese.
namespace ini_message {
inline constexpr const char* kTitle = "ERROR";
inline constexpr const char* kNoFirmwareSection = "初期設定ファイルの「FIRMWARE」セクションが見つかりません。";
inline constexpr const char* kNoStartAddress = "初期設定ファイルの「StartAddress」キーが見つかりません。";
inline constexpr const char* kNoLength = "初期設定ファイルの「Length」キーが見つかりません。";
inline constexpr const char* kNoModel = "初期設定ファイルの「Model」キーが見つかりません。";
inline constexpr const char* kNoVersion = "初期設定ファイルの「Version」キーが見つかりません。";
inline constexpr const char* kNoDeviceID = "初期設定ファイルの「DeviceID」キーが見つかりません。";
inline constexpr const char* kNoType = "初期設定ファイルの「Type」キーが見つかりません。";
inline constexpr const char* kBadType = "初期設定ファイルの「Type」キーの値が無効です";
inline constexpr const char* kNoTarget = "初期設定ファイルの「Target」キーが見つかりません。";
inline constexpr const char* kBadTarget = "初期設定ファイルの「Target」キーの値が無効です";
}  // namespace ini_message

// "intValue" of a decimal text: optional blanks and sign, then digits up to the first other
// character; 0 without digits.
int32_t IniIntValue(std::string_view text);
