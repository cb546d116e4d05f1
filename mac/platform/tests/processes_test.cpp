#include "mac/platform/processes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "mac/platform/platform.h"

namespace mac {
namespace {

class PlatformProcesses : public testing::Test {
 protected:
  // The table fetched the way the Mac utilities fetch it: ask the size, fetch, start again when it
  // grew meanwhile. The command names of the records, and how many fetches it took.
  std::pair<std::vector<std::string>, int> Table() {
    const int name[] = {kCtlKern, kKernProc, kKernProcAll};
    for (int round = 1;; ++round) {
      size_t size = 0;
      EXPECT_EQ(processes.sysctl(name, nullptr, &size), 0);
      std::vector<uint8_t> buffer(size);
      if (processes.sysctl(name, buffer.data(), &size) == -1) {
        EXPECT_EQ(errno, ENOMEM);
        continue;
      }
      std::vector<std::string> commands;
      for (size_t i = 0; i + kKinfoProcSize <= size; i += kKinfoProcSize) {
        commands.emplace_back(reinterpret_cast<const char*>(&buffer[i + kKinfoProcCommOffset]));
      }
      return {commands, round};
    }
  }

  Platform mac;
  Processes& processes = mac.processes();
};

TEST_F(PlatformProcesses, TheKernelTableCountsFindersAndCutsNamesLikeTheKernel) {
  processes.logInUser(502);
  processes.start("A Rather Long Command Name");
  processes.growAfterNextSizeQuery(3);
  const auto [commands, rounds] = Table();
  EXPECT_EQ(rounds, 2) << "the table grew between the question and the fetch";
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "Finder"), 2);
  EXPECT_NE(std::find(commands.begin(), commands.end(), "A Rather Long Co"), commands.end());
  EXPECT_NE(std::find(commands.begin(), commands.end(), "Reflash"), commands.end());

  const int wrong[] = {kCtlKern, kKernProc, 1};
  size_t size = 0;
  EXPECT_EQ(processes.sysctl(wrong, nullptr, &size), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(PlatformProcesses, TheProcessManagerFindsAndStopsANamedProcess) {
  processes.start("Plug Monitor", "Plug Monitor", 501);
  auto find = [&](std::string_view wanted) -> std::optional<ProcessSerialNumber> {
    ProcessSerialNumber psn{0, kNoProcess};
    while (processes.GetNextProcess(&psn) == noErr) {
      std::string name;
      if (processes.CopyProcessName(psn, &name) == noErr && name == wanted) return psn;
    }
    return std::nullopt;
  };
  const auto monitor = find("Plug Monitor");
  ASSERT_TRUE(monitor);
  EXPECT_EQ(processes.KillProcess(*monitor), noErr);
  EXPECT_FALSE(find("Plug Monitor"));
  EXPECT_EQ(processes.KillProcess(*monitor), procNotFound);

  ProcessSerialNumber self;
  ASSERT_EQ(processes.GetCurrentProcess(&self), noErr);
  EXPECT_EQ(find("Firmware Update"), self);
  EXPECT_EQ(processes.SetFrontProcess(self), noErr);
  EXPECT_TRUE(mac.transcript().contains("\"Firmware Update\" brought to the front"));
}

// The world numbers its processes apart from this table: a program of the world may carry the pid
// of one of the system's own here. Stopping it stops that program, and leaves the other.
TEST_F(PlatformProcesses, AProcessOfTheWorldWithAPidOfThisTableIsTheOneStopped) {
  const pid_t taken = processes.table().front().pid;
  Processes::Process monitor;
  monitor.pid = taken;
  monitor.uid = 501;
  monitor.command = monitor.name = "Plug Monitor";
  monitor.application = true;
  std::vector<Processes::Process> world{monitor};
  Processes::Outside outside;
  outside.list = [&] { return world; };
  outside.stop = [&](pid_t pid) { std::erase_if(world, [pid](const Processes::Process& p) { return p.pid == pid; }); };
  processes.setOutside(std::move(outside));
  const size_t before = processes.table().size();

  ProcessSerialNumber psn{0, kNoProcess};
  std::string name;
  while (processes.GetNextProcess(&psn) == noErr && processes.CopyProcessName(psn, &name) == noErr && name != "Plug Monitor") {
  }
  ASSERT_EQ(name, "Plug Monitor");
  EXPECT_EQ(processes.KillProcess(psn), noErr);
  EXPECT_TRUE(world.empty());
  EXPECT_EQ(processes.table().size(), before - 1);
  EXPECT_EQ(processes.table().front().pid, taken) << "the system's own process stays";
  EXPECT_EQ(processes.CopyProcessName(psn, &name), procNotFound);
}

TEST_F(PlatformProcesses, TheWorkspaceListsApplicationsAndAnnouncesTheirLaunch) {
  std::vector<std::string> launched;
  mac.workspace().notificationCenter().addObserver(this, std::string(NSWorkspaceWillLaunchApplicationNotification),
                                                   [&](const Notification& n) { launched.push_back(*n.userInfo->string(NSApplicationName)); });
  mac.simulation().launchApplication("VoxPlayer");
  mac.simulation().runFor(Milliseconds(0));
  mac.fileManager().createDirectoryAtPath("/Applications/Plug Monitor.app");
  EXPECT_TRUE(mac.workspace().launchApplication("/Applications/Plug Monitor.app"));
  EXPECT_FALSE(mac.workspace().launchApplication("/Applications/Missing.app"));
  EXPECT_EQ(launched, std::vector<std::string>{"VoxPlayer"}) << "delivered through the run loop";
  mac.simulation().runFor(Milliseconds(0));
  EXPECT_EQ(launched, (std::vector<std::string>{"VoxPlayer", "Plug Monitor"}));
  std::vector<std::string> names;
  for (const auto& app : mac.workspace().launchedApplications()) names.push_back(app.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Finder", "Firmware Update", "VoxPlayer", "Plug Monitor"}));
  EXPECT_TRUE(mac.workspace().quit("VoxPlayer"));
  EXPECT_FALSE(mac.workspace().quit("Firmware Update")) << "the program itself does not quit from outside";
  mac.workspace().notificationCenter().removeObserver(this);
}

TEST_F(PlatformProcesses, AuthorizationFollowsTheUsersAnswer) {
  struct Case {
    const char* name;
    std::optional<OSStatus> answer;
    uint32_t flags;
    bool toolThere;
    OSStatus copied;
    OSStatus executed;
  };
  constexpr uint32_t kAsk = kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights | kAuthorizationFlagPreAuthorize;
  const Case cases[] = {
      {"granted", std::nullopt, kAsk, true, errAuthorizationSuccess, errAuthorizationSuccess},
      {"refused", errAuthorizationDenied, kAsk, true, errAuthorizationDenied, errAuthorizationDenied},
      {"cancelled", errAuthorizationCanceled, kAsk, true, errAuthorizationCanceled, errAuthorizationDenied},
      {"no interaction allowed", std::nullopt, kAuthorizationFlagExtendRights, true, errAuthorizationInteractionNotAllowed,
       errAuthorizationDenied},
      {"granted, but the tool is missing", std::nullopt, kAsk, false, errAuthorizationSuccess, errAuthorizationToolExecuteFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Platform fresh;
    Authorization& auth = fresh.authorization();
    if (c.toolThere) fresh.fileManager().createFileAtPath("/tmp/CopyKextTool", "tool");
    if (c.answer) auth.answerNext(*c.answer);
    {
      ScopedAuthorization ref(auth);
      ASSERT_EQ(auth.AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, ref.receive()), errAuthorizationSuccess);
      EXPECT_EQ(auth.AuthorizationCopyRights(ref.get(), {{std::string(kAuthorizationRightExecute)}}, c.flags), c.copied);
      EXPECT_EQ(auth.AuthorizationExecuteWithPrivileges(ref.get(), "/tmp/CopyKextTool", {"/x/KestrelDSSDriver.kext"}), c.executed);
      EXPECT_EQ(auth.executions().size(), c.executed == errAuthorizationSuccess ? 1u : 0u);
    }
    EXPECT_EQ(auth.openAuthorizations(), 0u);
  }
}

TEST_F(PlatformProcesses, ThePrivilegedToolDoesItsWorkAfterItsDelayWhileTheProgramSleeps) {
  FileManager& files = mac.fileManager();
  files.createFileAtPath("/tmp/CopyKextTool", "tool");
  files.createDirectoryAtPath("/tmp/KestrelDSSDriver.kext");
  Authorization& auth = mac.authorization();
  auth.setToolEffect([&](const std::vector<std::string>& arguments) { files.copyPath(arguments.at(0), "/Library/Extensions/KestrelDSSDriver.kext"); },
                     Milliseconds(1500));
  ScopedAuthorization ref(auth);
  auth.AuthorizationCreate(nullptr, kAuthorizationFlagDefaults, ref.receive());
  auth.AuthorizationCopyRights(ref.get(), {{std::string(kAuthorizationRightExecute)}},
                               kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights);
  ASSERT_EQ(auth.AuthorizationExecuteWithPrivileges(ref.get(), "/tmp/CopyKextTool", {"/tmp/KestrelDSSDriver.kext"}),
            errAuthorizationSuccess);
  int checks = 0;
  while (!files.fileExistsAtPath("/Library/Extensions/KestrelDSSDriver.kext") && checks < 30) {
    mac.clock().sleepFor(Milliseconds(100));
    ++checks;
  }
  EXPECT_EQ(checks, 15);
}

TEST_F(PlatformProcesses, LoginItemsGoThroughTheLoadedPluginAndTheRestartIsRequested) {
  EXPECT_FALSE(mac.loginItems().loadPlugin("/Applications/Firmware Update.app/Contents/Resources/Leopard.bundle"));
  mac.fileManager().createDirectoryAtPath("/tmp/Leopard.bundle");
  auto plugin = mac.loginItems().loadPlugin("/tmp/Leopard.bundle");
  ASSERT_TRUE(plugin);
  EXPECT_TRUE(plugin->LXAddLoginItem("/Users/user/Library/Application Support/KESTREL/SCSIReflash/Firmware Update.app"));
  EXPECT_FALSE(plugin->LXAddLoginItem("/Users/user/Library/Application Support/KESTREL/SCSIReflash/Firmware Update.app"));
  EXPECT_EQ(mac.loginItems().items().size(), 1u);
  EXPECT_FALSE(plugin->LXRemoveLoginItem("/Applications/Firmware Update.app"));
  EXPECT_TRUE(plugin->LXRemoveLoginItem("/Users/user/Library/Application Support/KESTREL/SCSIReflash/Firmware Update.app"));
  EXPECT_TRUE(mac.loginItems().items().empty());

  AppleEvents& events = mac.appleEvents();
  AEAddressDesc target;
  AppleEvent event;
  ASSERT_EQ(events.AECreateDesc(typeProcessSerialNumber, {0, kSystemProcess}, &target), noErr);
  ASSERT_EQ(events.AECreateAppleEvent(kCoreEventClass, kAERestart, target, kAutoGenerateReturnID, kAnyTransactionID, &event), noErr);
  EXPECT_FALSE(events.restartRequested());
  EXPECT_EQ(events.AESendMessage(event, nullptr, kAENoReply | kAEAlwaysInteract | kAECanSwitchLayer, kAEDefaultTimeout), noErr);
  EXPECT_TRUE(events.restartRequested());
  EXPECT_EQ(events.sent().back().sendMode, 0x71);
}

}  // namespace
}  // namespace mac
