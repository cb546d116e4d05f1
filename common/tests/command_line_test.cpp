#include "common/command_line.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct CommandLineCase {
  std::vector<std::string> arguments;  // the program name first, as the C runtime splits them
  bool chainedRun;
  int chainedStage;
  bool dm;
  bool silent;
  char driveLetter;
};

void PrintTo(const CommandLineCase& c, std::ostream* os) {
  *os << "{";
  for (const std::string& a : c.arguments) *os << " \"" << a << "\"";
  *os << " }";
}

class ParseCommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(ParseCommandLineTest, GivesEveryOption) {
  const CommandLineCase& c = GetParam();
  const CommandLineOptions o = ParseCommandLine(c.arguments);
  EXPECT_EQ(o.ChainedRun, c.chainedRun);
  EXPECT_EQ(o.ChainedStage, c.chainedStage);
  EXPECT_EQ(o.DmOption, c.dm);
  EXPECT_EQ(o.SilentOption, c.silent);
  EXPECT_EQ(o.DriveLetter, c.driveLetter);
}

const char* const kProgram = "C:\\Updater\\Monoflash.exe";

INSTANTIATE_TEST_SUITE_P(
    Arguments, ParseCommandLineTest,
    testing::Values(
        // Nothing but the program name: a plain wizard run.
        CommandLineCase{{kProgram}, false, 0, false, false, '\0'},
        CommandLineCase{{}, false, 0, false, false, '\0'},
        // Stages, in any case, and the later one wins.
        CommandLineCase{{kProgram, "-nc1"}, true, 1, false, false, '\0'},
        CommandLineCase{{kProgram, "-NC1"}, true, 1, false, false, '\0'},
        CommandLineCase{{kProgram, "-Nc2"}, true, 2, false, false, '\0'},
        CommandLineCase{{kProgram, "-nc1", "-nc2"}, true, 2, false, false, '\0'},
        CommandLineCase{{kProgram, "-nc2", "-nc1"}, true, 1, false, false, '\0'},
        CommandLineCase{{kProgram, "-nc1", "-foo", "-nc1"}, true, 1, false, false, '\0'},
        // Whole arguments only: near misses are unknown arguments.
        CommandLineCase{{kProgram, "-nc3"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "-nc"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "-nc12"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "nc1"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "/nc1"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, " -nc1"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "-silentx"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "-silen"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "-dmx"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "-d"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, "--drive:E"}, false, 0, false, false, '\0'},
        CommandLineCase{{kProgram, ""}, false, 0, false, false, '\0'},
        // Silent and dm, in any case.
        CommandLineCase{{kProgram, "-silent"}, false, 0, false, true, '\0'},
        CommandLineCase{{kProgram, "-SILENT"}, false, 0, false, true, '\0'},
        CommandLineCase{{kProgram, "-dm"}, false, 0, true, false, '\0'},
        CommandLineCase{{kProgram, "-DM"}, false, 0, true, false, '\0'},
        // The drive letter is the argument's last character, whatever precedes it after "-dr".
        CommandLineCase{{kProgram, "-drive:E"}, false, 0, false, false, 'E'},
        CommandLineCase{{kProgram, "-DRIVE:f"}, false, 0, false, false, 'f'},
        CommandLineCase{{kProgram, "-drive:"}, false, 0, false, false, ':'},
        CommandLineCase{{kProgram, "-dr"}, false, 0, false, false, 'r'},
        CommandLineCase{{kProgram, "-Dr"}, false, 0, false, false, 'r'},
        CommandLineCase{{kProgram, "-drX"}, false, 0, false, false, 'X'},
        CommandLineCase{{kProgram, "-drive:EF"}, false, 0, false, false, 'F'},
        CommandLineCase{{kProgram, "-drive:E", "-drive:G"}, false, 0, false, false, 'G'},
        CommandLineCase{{kProgram, "-drive:G", "-drive:E"}, false, 0, false, false, 'E'},
        // Everything at once, in any order.
        CommandLineCase{{kProgram, "-drive:H", "-silent", "-nc2", "-dm"}, true, 2, true, true, 'H'},
        CommandLineCase{{kProgram, "-DM", "-Drive:k", "-NC1", "-Silent", "junk"}, true, 1, true, true, 'k'},
        // The program name is compared like every other argument.
        CommandLineCase{{"-silent"}, false, 0, false, true, '\0'},
        CommandLineCase{{"-nc2", "-nc1"}, true, 1, false, false, '\0'},
        CommandLineCase{{"-drive.exe"}, false, 0, false, false, 'e'},
        CommandLineCase{{"C:\\-nc1"}, false, 0, false, false, '\0'}));

}  // namespace
