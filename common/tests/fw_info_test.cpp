#include "common/fw_info.h"

#include <gtest/gtest.h>

#include "common/tests/fake_profile.h"

namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

FwInfoArray LoadOne(const Keys& keys) { return LoadFwInfos(FakeProfile({{"FIRMWARE", keys}})); }

TEST(LoadFwInfos, ShippedStage1Entry) {
  const auto infos = LoadOne({{"StartAddress", "1024"},
                              {"Length", "31744"},
                              {"Model", "ZT-5100"},
                              {"Version", "1.01"},
                              {"Traget", "SUB"},
                              {"DeviceID", "40"},
                              {"DeviceType", "RECORDER"},
                              {"Type", "FACTORY"},
                              {"StorageCheck", "0"},
                              {"StorageSize", ""}});
  ASSERT_EQ(infos.size(), 1u);
  const CFwUpBaseFwInfo& info = *infos[0];
  EXPECT_EQ(info.StartAddress, 1024);
  EXPECT_EQ(info.Length, 31744);
  EXPECT_EQ(info.Model, "ZT-5100");
  EXPECT_EQ(info.Version, (FwVersion{1, 1, 0}));
  EXPECT_TRUE(info.IsSubTarget);
  EXPECT_EQ(info.DeviceID, 40);
  EXPECT_FALSE(info.IsPenwave);
  EXPECT_TRUE(info.IsFactory);
  EXPECT_EQ(info.StorageCheck, 0);
  EXPECT_EQ(info.StorageSize, 0u);
  EXPECT_EQ(info.ResourceId, 250);
}

TEST(LoadFwInfos, WordsMatchExactly) {
  struct Case {
    const char* key;
    const char* value;
    bool sub, penwave, factory;
  };
  const Case cases[] = {
      {"Traget", "SUB", true, false, false},        {"Traget", "sub", false, false, false},
      {"Traget", "Sub ", false, false, false},      {"Target", "SUB", false, false, false},
      {"DeviceType", "PENWAVE", false, true, false}, {"DeviceType", "Penwave", false, false, false},
      {"Type", "FACTORY", false, false, true},      {"Type", "Factory", false, false, false},
      {"Type", "CUSTOMER", false, false, false},
  };
  for (const Case& c : cases) {
    const auto infos = LoadOne({{c.key, c.value}});
    EXPECT_EQ(infos[0]->IsSubTarget, c.sub) << c.key << "=" << c.value;
    EXPECT_EQ(infos[0]->IsPenwave != 0, c.penwave) << c.key << "=" << c.value;
    EXPECT_EQ(infos[0]->IsFactory != 0, c.factory) << c.key << "=" << c.value;
  }
}

TEST(LoadFwInfos, StorageSizeIsHexadecimalAndSaturates) {
  struct Case {
    const char* value;
    uint64_t expected;
  };
  const Case cases[] = {{"0x1F4", 500},
                        {"1f4", 500},
                        {"", 0},
                        {"  0X40000000", 0x40000000},
                        {"0x", 0},
                        {"0xg1", 0},
                        {"12zz", 0x12},
                        {"FFFFFFFFFFFFFFFF", UINT64_MAX},
                        {"10000000000000000", UINT64_MAX},
                        {"123456789abcdef0123456789", UINT64_MAX}};
  for (const Case& c : cases) {
    const auto infos = LoadOne({{"StorageSize", c.value}});
    EXPECT_EQ(infos[0]->StorageSize, c.expected) << c.value;
  }
}

TEST(LoadFwInfos, IntegersKeepTheirWidth) {
  const auto infos = LoadOne({{"DeviceID", "65576"}, {"StartAddress", "4294967295"}, {"Length", "12abc"}});
  EXPECT_EQ(infos[0]->DeviceID, 40);  // low 16 bits of 65576
  EXPECT_EQ(infos[0]->StartAddress, -1);
  EXPECT_EQ(infos[0]->Length, 12);
}

TEST(LoadFwInfos, WithoutFirmwareSectionOneDefaultRecord) {
  const auto infos = LoadFwInfos(FakeProfile({{"RESOURCE", {{"IdBinFirmware", "10"}}}}));
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0]->DeviceID, 0);
  EXPECT_FALSE(infos[0]->IsSubTarget);
  EXPECT_EQ(infos[0]->Version, (FwVersion{1, 0, 0}));
  EXPECT_FALSE(infos[0]->IsFactory);
  EXPECT_TRUE(infos[0]->Model.empty());
  EXPECT_EQ(infos[0]->ResourceId, 250);
}

TEST(LoadFwInfos, CountsConsecutiveExactlyNamedSections) {
  struct Case {
    std::vector<std::string> names;
    size_t records;
  };
  const Case cases[] = {
      {{"FIRMWARE", "FIRMWARE3"}, 1},
      {{"FIRMWARE", "FIRMWARE2", "FIRMWARE3"}, 3},
      {{"FIRMWARE2", "FIRMWARE"}, 2},
      {{"firmware"}, 1},  // exact names only: the record comes from defaults
      {{"FIRMWARE", "Firmware2"}, 1},
  };
  for (const Case& c : cases) {
    std::vector<FakeProfile::Section> sections;
    for (const auto& name : c.names) sections.push_back({name, {{"DeviceID", "7"}}});
    const auto infos = LoadFwInfos(FakeProfile(sections));
    ASSERT_EQ(infos.size(), c.records);
    for (size_t i = 0; i < infos.size(); ++i) EXPECT_EQ(infos[i]->ResourceId, 250 + i);
  }
}

TEST(FindFwInfo, MatchesDeviceOrFallsBackToFirst) {
  const auto infos = LoadFwInfos(FakeProfile({{"FIRMWARE", {{"DeviceID", "40"}, {"Model", "A"}}},
                                              {"FIRMWARE2", {{"DeviceID", "41"}, {"Model", "B"}}},
                                              {"FIRMWARE3", {{"DeviceID", "41"}, {"Model", "C"}}}}));
  EXPECT_EQ(FindFwInfo(infos, 41)->Model, "B");
  EXPECT_EQ(FindFwInfo(infos, 40)->Model, "A");
  EXPECT_EQ(FindFwInfo(infos, 0xFFFF)->Model, "A");
  EXPECT_EQ(FindFwInfo(FwInfoArray{}, 40), nullptr);
}

}  // namespace
