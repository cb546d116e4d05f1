#pragma once
// The payload a Windows program carries as "BIN" resources, the size keys of its configuration, and
// the 32-bit PayloadError that reports what went wrong with which item:
//   high half: 0x0001 missing or size mismatch (mismatches of several items accumulate),
//              0x0002 resource could not be locked, 0x0004 file could not be created,
//              0x0008 file written short;
//   low half:  the item's bit (0x0000 for the temporary folder itself).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

using PayloadError = uint32_t;

enum class PayloadFailure : uint32_t {
  Missing = 0x0001,
  NotLocked = 0x0002,
  NotCreated = 0x0004,
  WrittenShort = 0x0008,
};

constexpr PayloadError MakePayloadError(PayloadFailure failure, uint32_t itemBit) {
  return (static_cast<uint32_t>(failure) << 16) | itemBit;
}

inline constexpr PayloadError kPayloadOk = 0;
inline constexpr PayloadError kTempFolderUnknown = MakePayloadError(PayloadFailure::Missing, 0);

// One item of a bundle: where it lives, the key that declares its size, and its bit in the error.
struct PayloadItem {
  uint16_t resourceId;
  const char* sizeKey;   // in [RESOURCE]; null for the configuration itself
  uint32_t itemBit;
  const char* fileName;  // written to the temporary folder under this name; null when read in place
};

// ---- The single-target updater's bundle ----
namespace bundle {
inline constexpr PayloadItem kConfiguration{204, nullptr, 0x0001, "FwUpDate.ini"};
inline constexpr PayloadItem kFirmware{250, "IdBinFirmware", 0x0002, nullptr};
inline constexpr PayloadItem kGlossaryTable{206, "IdBinStringTable", 0x0004, "Glossaries.txt"};
inline constexpr PayloadItem kWizard1Picture{161, "IdBinWizard1Jpeg", 0x0008, nullptr};
inline constexpr PayloadItem kWizard2Picture{159, "IdBinWizard2Jpeg", 0x0010, nullptr};
inline constexpr PayloadItem kWizard4Picture{160, "IdBinWizard4Jpeg", 0x0020, nullptr};
inline constexpr PayloadItem kGlossaryLibrary{207, "IdBinKesGlossDll", 0x0040, "KesGloss.dll"};
inline constexpr PayloadItem kAutoplayLibrary{165, "IdBinDssCancelDll", 0x0080, "DssCancel.dll"};

// The items after the firmware images, in the order their sizes are checked.
inline constexpr PayloadItem kCheckedItems[] = {kGlossaryTable,  kWizard1Picture,  kWizard2Picture,
                                                kWizard4Picture, kGlossaryLibrary, kAutoplayLibrary};

// "IdBinFirmware", "IdBinFirmware2", ...: the size key of firmware image n (resource 250 + n).
std::string FirmwareSizeKey(size_t index);
}  // namespace bundle

// Declared sizes come from [RESOURCE]; actual sizes are those of the resources (0 when missing).
struct BundleSizes {
  std::vector<uint32_t> firmware;  // image n; the declared list ends before the first key read as 0
  uint32_t items[std::size(bundle::kCheckedItems)] = {};
};

// The size check of the single-target updater. No declared firmware at all is an error of its own;
// every mismatch ORs its item bit in, so one code names all damaged items.
PayloadError CheckBundleSizes(const BundleSizes& declared, const BundleSizes& actual);

// ---- The two-stage wrapper's payload ----
namespace wrapper {
inline constexpr PayloadItem kConfiguration{137, nullptr, 0x0001, "TWINFLASH.INI"};
inline constexpr PayloadItem kGlossaryTable{139, "IdBinGlossariesTxt", 0x0004, "Glossaries.txt"};
inline constexpr PayloadItem kPage1Picture{147, "IdBinWWizard1Jpeg", 0x0008, nullptr};
inline constexpr PayloadItem kPage2Picture{146, "IdBinWWizard2Jpeg", 0x0010, nullptr};
inline constexpr PayloadItem kGlossaryLibrary{136, "IdBinKesGlossDll", 0x0040, "WKesGloss.dll"};
inline constexpr PayloadItem kAutoplayLibrary{155, "IdBinDSSCancelDll", 0x0040, "WDSSCancel.dll"};
inline constexpr PayloadItem kStage1Updater{148, "IdBinSt1UpdataExe", 0x0040, "st1Updata.exe"};
inline constexpr PayloadItem kStage2Updater{149, "IdBinSt2UpdataExe", 0x0040, "st2Updata.exe"};

// In the order their sizes are checked.
inline constexpr PayloadItem kCheckedItems[] = {kGlossaryTable,   kPage1Picture,    kPage2Picture, kGlossaryLibrary,
                                                kAutoplayLibrary, kStage1Updater, kStage2Updater};
}  // namespace wrapper

struct WrapperSizes {
  uint32_t items[std::size(wrapper::kCheckedItems)] = {};
};

PayloadError CheckWrapperSizes(const WrapperSizes& declared, const WrapperSizes& actual);
