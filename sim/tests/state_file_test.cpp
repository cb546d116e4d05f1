#include "sim/state_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "common/commands.h"
#include "sim/link.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

sim::Recorder Sample() {
  sim::Recorder r;
  r.main.version = "1.01";
  r.sub.version = "0.99b";
  r.deviceId = 41;
  r.modelPadding = sim::ModelPadding::Zero;
  r.sub.imageComplete = false;
  r.modeByte = 3;
  r.modeSwitchLingerMs = 700;
  r.leavesAtMs = 123456;
  r.pollScript = {4, 4, 0};
  r.main.flash[524288] = 0xAB;
  r.session.active = true;
  r.session.target = 1;
  r.session.start = 1024;
  r.session.length = 10;
  r.session.received = 3;
  r.last.present = true;
  r.last.imageVersion = "1.01";
  sim::Fault f;
  std::string error;
  sim::ParseFault("fail E4 02 3", f, error);
  f.seen = 2;
  r.faults.push_back(f);
  r.log = {"12", "E0 0B"};
  return r;
}

TEST(StateFile, RoundTrips) {
  const sim::Recorder r = Sample();
  sim::Recorder back;
  std::string error;
  ASSERT_TRUE(sim::ParseRecorder(sim::SerializeRecorder(r), back, error)) << error;
  EXPECT_EQ(sim::SerializeRecorder(back), sim::SerializeRecorder(r));
  EXPECT_EQ(back.sub.version, "0.99b");
  EXPECT_EQ(back.faults[0].seen, 2u);
  EXPECT_EQ(back.session.received, 3u);
  EXPECT_EQ(back.main.flash[524288], 0xAB);
  EXPECT_EQ(back.pollScript, std::vector<uint16_t>({4, 4, 0}));
  EXPECT_EQ(back.modelPadding, sim::ModelPadding::Zero);
  EXPECT_FALSE(back.sub.imageComplete);
  EXPECT_TRUE(back.main.imageComplete);
  EXPECT_EQ(back.modeSwitchLingerMs, 700u);
  EXPECT_EQ(back.leavesAtMs, 123456u);
}

// A file from before the image state and the model padding were kept holds what a recorder starts with.
TEST(StateFile, OlderFilesReadAsCompleteImagesAndBlankPadding) {
  const auto good = sim::SerializeRecorder(Sample());
  std::string text(good.begin(), good.end());
  for (const char* line : {"model-padding=zero\n", "sub-image=incomplete\n", "main-image=complete\n"}) {
    const size_t at = text.find(line);
    ASSERT_NE(at, std::string::npos) << line;
    text.erase(at, std::strlen(line));
  }
  sim::Recorder back;
  std::string error;
  ASSERT_TRUE(sim::ParseRecorder(std::vector<uint8_t>(text.begin(), text.end()), back, error)) << error;
  EXPECT_EQ(back.modelPadding, sim::ModelPadding::Blank);
  EXPECT_TRUE(back.sub.imageComplete);
  EXPECT_TRUE(back.main.imageComplete);
  EXPECT_EQ(back.modeSwitchLingerMs, 700u);
  EXPECT_EQ(back.leavesAtMs, 123456u);
}

TEST(StateFile, DamagedFilesAreRefusedWithAReason) {
  const auto good = sim::SerializeRecorder(Sample());
  const std::string head(good.begin(), good.begin() + 600);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text(good.begin(), good.end());
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    return std::vector<uint8_t>(text.begin(), text.end());
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"empty", {}},
      {"wrong magic", replaced("ZT5100-SIM 1", "ZT5100-SIM 9")},
      {"truncated flash", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"extra bytes", [&] { auto b = good; b.push_back(0); return b; }()},
      {"a number that is not one", replaced("device-id=41", "device-id=4x")},
      {"a number too large", replaced("mode-byte=3", "mode-byte=300")},
      {"a flash beyond any recorder", replaced("main-flash=2097152", "main-flash=99999999999")},
      {"a session outside the flash", replaced("session=1,1,1024,", "session=1,1,40000,")},
      {"more received than the session's length", replaced(",3\nlast=", ",11\nlast=")},
      {"a damaged fault", replaced("fault=2 fail E4 02 3", "fault=2 fail E4")},
      {"an image neither complete nor incomplete", replaced("sub-image=incomplete", "sub-image=half")},
      {"an unknown padding", replaced("model-padding=zero", "model-padding=tabs")},
      {"a head line without =", replaced("serial=51000001", "serial")},
      {"no end of the head", std::vector<uint8_t>(head.begin(), head.begin() + head.find("--"))},
  };
  for (const Case& c : cases) {
    sim::Recorder r;
    std::string error;
    EXPECT_FALSE(sim::ParseRecorder(c.bytes, r, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

class StoreTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("zt-store-" + std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id())) + ".sim"))
                .string();
  }
  void TearDown() override { std::remove(path_.c_str()); }
  std::string path_;
};

TEST_F(StoreTest, SeveralWritersAreSerialised) {
  std::string error;
  ASSERT_TRUE(sim::RecorderStore(path_).Create(sim::Recorder{}, error)) << error;
  constexpr int kWriters = 3;
  constexpr int kIncrements = 40;
  auto work = [this] {
    const sim::RecorderStore store(path_);
    std::string e;
    for (int i = 0; i < kIncrements; ++i) store.Update([](sim::Recorder& r) { return ++r.serial, true; }, e);
  };
#ifdef _WIN32
  std::vector<std::thread> writers;  // each has handles of its own, and the lock is per handle
  for (int i = 0; i < kWriters; ++i) writers.emplace_back(work);
  for (auto& t : writers) t.join();
#else
  std::vector<pid_t> children;  // record locks are per process
  for (int i = 0; i < kWriters; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      work();
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
#endif
  sim::Recorder r;
  ASSERT_TRUE(sim::RecorderStore(path_).Read(r, error)) << error;
  EXPECT_EQ(r.serial, 51000001u + kWriters * kIncrements);
}

// Each link reads the file afresh, as another process would: an interrupted update is still
// interrupted for the next reader, after the recorder was unplugged and plugged in again.
TEST_F(StoreTest, IncompleteImageOutlivesUnpluggingAndTheProcess) {
  std::string error;
  ASSERT_TRUE(sim::RecorderStore(path_).Create(sim::Recorder{}, error)) << error;
  const CommandBlock prepare = cmd::PrepareUpdate(1024, 1000, TargetCode::Sub);
  uint8_t reply[kBufferedDataSize] = {};
  ASSERT_EQ(sim::StoreLink(path_).Execute(std::span(prepare.cdb.data(), prepare.cdbLength), {}, reply).status,
            sim::Status::Good);
  const sim::RecorderStore store(path_);
  ASSERT_TRUE(store.Update([](sim::Recorder& r) { return r.Unplug(), true; }, error)) << error;
  ASSERT_TRUE(store.Update([](sim::Recorder& r) { return r.Plug(), true; }, error)) << error;

  const CommandBlock versions = cmd::GetFirmwareVersions();
  ASSERT_EQ(sim::StoreLink(path_).Execute(std::span(versions.cdb.data(), versions.cdbLength), {}, reply).status,
            sim::Status::Good);
  EXPECT_EQ(DecodeFirmwareVersions(reply).sub, std::string("0.00\0\0\0\0", 8));
  EXPECT_EQ(DecodeFirmwareVersions(reply).main, std::string("1.00\0\0\0\0", 8));
}

TEST_F(StoreTest, MissingOrDamagedFileIsAnError) {
  std::string error;
  sim::Recorder r;
  EXPECT_FALSE(sim::RecorderStore(path_ + ".none").Read(r, error));
  EXPECT_FALSE(error.empty());
  FILE* f = std::fopen(path_.c_str(), "wb");
  std::fputs("not a recorder", f);
  std::fclose(f);
  error.clear();
  EXPECT_FALSE(sim::RecorderStore(path_).Update([](sim::Recorder&) { return true; }, error));
  EXPECT_NE(error.find("not a simulated recorder"), std::string::npos) << error;
}

}  // namespace
