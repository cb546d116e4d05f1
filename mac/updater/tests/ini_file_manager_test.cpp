#include "mac/updater/ini_file_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kFirmware =
    "[FIRMWARE]\nStartAddress=524288\nLength=1572864\nModel=ZT-5100\nVersion=1.01\nTraget=MAIN\nDeviceID=40\n"
    "DeviceType=RECORDER\nType=CUSTOMER\n";
const std::string kFirmware2 =
    "[FIRMWARE2]\nStartAddress=1024\nLength=31744\nModel=ZT-5200\nVersion=2.03\nTraget=SUB\nDeviceID=41\nType=FACTORY\n";

// A manager over `text`, and the messages it showed.
struct Loaded {
  explicit Loaded(const std::string& text, IniDecoding decoding = IniDecoding::UnicodeOrUtf8)
      : Loaded(std::vector<uint8_t>(text.begin(), text.end()), decoding) {}
  Loaded(std::vector<uint8_t> bytes, IniDecoding decoding = IniDecoding::UnicodeOrUtf8)
      : file(decoding, [bytes](const std::string&) { return std::optional<std::vector<uint8_t>>(bytes); }),
        manager(file) {
    FwUpIniFileManager::setErrorPanel([this](const std::string& title, const std::string& message) {
      titles.push_back(title);
      messages.push_back(message);
    });
    file.createIniFileDictionary("FwUpDate.INI");
    ok = manager.getValues();
  }
  ~Loaded() { FwUpIniFileManager::setErrorPanel({}); }

  FwUpIniFile file;
  FwUpIniFileManager manager;
  bool ok = false;
  std::vector<std::string> titles, messages;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(FwUpIniFileManager, FirstMissingOrInvalidItemIsNamedOnce) {
  using namespace ini_message;
  struct Case {
    const char* name;
    std::string text;
    const char* message;  // null: accepted
  };
  const Case cases[] = {
      {"complete", kFirmware, nullptr},
      {"no FIRMWARE section", "[FIRMWARE2]\nStartAddress=1\n", kNoFirmwareSection},
      {"no StartAddress", Replace(kFirmware, "StartAddress=524288\n", ""), kNoStartAddress},
      {"empty StartAddress", Replace(kFirmware, "StartAddress=524288", "StartAddress="), kNoStartAddress},
      {"no Length", Replace(kFirmware, "Length=1572864\n", ""), kNoLength},
      {"no Model", Replace(kFirmware, "Model=ZT-5100\n", ""), kNoModel},
      {"no Version", Replace(kFirmware, "Version=1.01\n", ""), kNoVersion},
      {"no DeviceID", Replace(kFirmware, "DeviceID=40\n", ""), kNoDeviceID},
      {"no Type", Replace(kFirmware, "Type=CUSTOMER\n", ""), kNoType},
      {"factory in lower case", Replace(kFirmware, "Type=CUSTOMER", "Type=factory"), kBadType},
      {"the key spelled Target", Replace(kFirmware, "Traget=MAIN", "Target=MAIN"), kNoTarget},
      {"an unknown target", Replace(kFirmware, "Traget=MAIN", "Traget=BOTH"), kBadTarget},
      {"recorder in lower case is accepted", Replace(kFirmware, "DeviceType=RECORDER", "DeviceType=recorder"), nullptr},
      {"two missing: the first in order", Replace(Replace(kFirmware, "Model=ZT-5100\n", ""), "Length=1572864\n", ""), kNoLength},
      {"a complete FIRMWARE2", kFirmware + kFirmware2, nullptr},
      {"FIRMWARE2 without DeviceType", kFirmware + kFirmware2, nullptr},
      {"FIRMWARE2 without Length", kFirmware + Replace(kFirmware2, "Length=31744\n", ""), kNoLength},
      {"FIRMWARE2 with a bad type", kFirmware + Replace(kFirmware2, "Type=FACTORY", "Type=X"), kBadType},
  };
  for (const Case& c : cases) {
    const Loaded l(c.text);
    EXPECT_EQ(l.ok, c.message == nullptr) << c.name;
    if (c.message) {
      ASSERT_EQ(l.messages.size(), 1u) << c.name;
      EXPECT_EQ(l.messages[0], c.message) << c.name;
      EXPECT_EQ(l.titles[0], "ERROR") << c.name;
    } else {
      EXPECT_TRUE(l.messages.empty()) << c.name;
    }
  }
}

TEST(FwUpIniFileManager, TypedValues) {
  const Loaded l(kFirmware + "[VOXPLAYER]\nAdmitLaunch=YES\n");
  ASSERT_TRUE(l.ok);
  const FwUpIniFileManager& m = l.manager;
  EXPECT_EQ(m.startAddress(), 524288u);
  EXPECT_EQ(m.length(), 1572864u);
  EXPECT_EQ(m.model(), "ZT-5100");
  _FIRM_VERSION v;
  m.version(&v);
  EXPECT_EQ(v, (_FIRM_VERSION{1, 1, 0}));
  EXPECT_EQ(m.deviceID(), 40);
  EXPECT_EQ(m.type(), FwUpIniFileManager::kTypeCustomer);
  EXPECT_EQ(m.target(), 0);
  EXPECT_TRUE(m.admitLaunch());
  EXPECT_FALSE(m.isFirm2Bin());
  EXPECT_FALSE(m.isFirmware2Section());

  struct Case {
    const char* name;
    std::string text;
    uint32_t start;
    bool admit;
    _FIRM_VERSION version;
  };
  const Case cases[] = {
      {"hexadecimal reads as 0", Replace(kFirmware, "StartAddress=524288", "StartAddress=0x400"), 0, false, {1, 1, 0}},
      {"admit in lower case", kFirmware + "[VOXPLAYER]\nAdmitLaunch=yes\n", 524288, false, {1, 1, 0}},
      {"version without a dot", Replace(kFirmware, "Version=1.01", "Version=101"), 524288, false, {0, 0, 0}},
      {"version with a letter", Replace(kFirmware, "Version=1.01", "Version=1.10B"), 524288, false, {1, 10, 2}},
  };
  for (const Case& c : cases) {
    const Loaded x(c.text);
    ASSERT_TRUE(x.ok) << c.name;
    EXPECT_EQ(x.manager.startAddress(), c.start) << c.name;
    EXPECT_EQ(x.manager.admitLaunch(), c.admit) << c.name;
    _FIRM_VERSION got;
    x.manager.version(&got);
    EXPECT_EQ(got, c.version) << c.name;
  }
}

TEST(FwUpIniFileManager, Utf16WithOrWithoutMarkLoadsLikeUtf8) {
  auto utf16 = [](const std::string& text, bool bom, bool big) {
    std::vector<uint8_t> bytes;
    if (bom) bytes = big ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
    for (char c : text) {
      if (big) bytes.insert(bytes.end(), {0, uint8_t(c)});
      else bytes.insert(bytes.end(), {uint8_t(c), 0});
    }
    return bytes;
  };
  for (const auto& bytes : {utf16(kFirmware, true, false), utf16(kFirmware, true, true), utf16(kFirmware, false, false)}) {
    const Loaded l(bytes);
    EXPECT_TRUE(l.ok);
    EXPECT_EQ(l.manager.length(), 1572864u);
  }
}

TEST(FwUpIniFileManager, CompareWithVersion) {
  const Loaded l(Replace(kFirmware, "Version=1.01", "Version=1.10"));
  struct Case {
    _FIRM_VERSION recorder;
    int order;
  };
  const Case cases[] = {{{1, 9, 0}, 1}, {{1, 10, 0}, 0}, {{1, 11, 0}, -1}, {{1, 10, 1}, -1},
                        {{0, 99, 26}, 1}, {{2, 0, 0}, -1}, {{0, 0, 0}, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(l.manager.compareWithVersion(&c.recorder), c.order) << c.recorder.major << "." << c.recorder.minor;
  }
  EXPECT_EQ(l.manager.compareWithVersion(nullptr), 1);
}

TEST(FwUpIniFileManager, SecondEntryByDeviceIdAndBack) {
  Loaded l(kFirmware + kFirmware2);
  FwUpIniFileManager& m = l.manager;
  ASSERT_TRUE(l.ok);
  EXPECT_TRUE(m.isFirmware2Section());
  m.initIsFirm2Bin();  // without a switch: nothing changes
  EXPECT_EQ(m.startAddress(), 524288u);
  EXPECT_FALSE(m.isFirmware2Device(40)) << "the first entry's own id";
  EXPECT_FALSE(m.isFirm2Bin());
  ASSERT_TRUE(m.isFirmware2Device(41));
  EXPECT_TRUE(m.isFirm2Bin());
  EXPECT_EQ(m.startAddress(), 1024u);
  EXPECT_EQ(m.length(), 31744u);
  EXPECT_EQ(m.model(), "ZT-5200");
  EXPECT_EQ(m.deviceID(), 41);
  EXPECT_EQ(m.type(), FwUpIniFileManager::kTypeFactory);
  EXPECT_EQ(m.target(), 1);
  EXPECT_EQ(m.deviceType(), 0) << "DeviceType missing there";
  m.initIsFirm2Bin();
  EXPECT_FALSE(m.isFirm2Bin());
  EXPECT_EQ(m.startAddress(), 524288u);
  EXPECT_EQ(m.deviceID(), 40);
  EXPECT_EQ(m.type(), FwUpIniFileManager::kTypeCustomer);
  EXPECT_EQ(m.target(), 0);

  Loaded without(kFirmware);
  EXPECT_FALSE(without.manager.isFirmware2Device(41));
}

TEST(FwUpIniFileManager, SettersKeepOnlyKnownValues) {
  Loaded l(kFirmware);
  FwUpIniFileManager& m = l.manager;
  m.setType(2);
  m.setTarget(7);
  m.setDeviceType(1);
  EXPECT_EQ(m.type(), 0);
  EXPECT_EQ(m.target(), 0);
  EXPECT_EQ(m.deviceType(), 1);
  m.setModel(std::nullopt);
  EXPECT_EQ(m.model(), "ZT-5100");
}

TEST(IniIntValue, DecimalPrefix) {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {{"524288", 524288}, {"0x400", 0}, {" 12ab", 12}, {"-5", -5}, {"", 0}, {"99999999999", INT32_MAX}};
  for (const Case& c : cases) EXPECT_EQ(IniIntValue(c.text), c.value) << c.text;
}

}  // namespace
