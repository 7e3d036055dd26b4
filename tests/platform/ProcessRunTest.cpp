#include "platform/ProcessRun.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace korvane {
namespace {

TEST(ProcessRun, SplitsCommandLinesAtBlanks) {
    EXPECT_EQ(splitCommandLine("ddl.exe -p1 -b115200 -k7 -fEvoloadSerial.dld"),
              (std::vector<std::string>{"ddl.exe", "-p1", "-b115200", "-k7", "-fEvoloadSerial.dld"}));
    EXPECT_EQ(splitCommandLine("  ddl.exe\t-i2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ  "),
              (std::vector<std::string>{"ddl.exe", "-i2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ"}));
    EXPECT_TRUE(splitCommandLine("   ").empty());
}

// Programs are found by name on PATH and get their arguments one by one.
TEST(ProcessRun, FindsTheProgramOnPathAndReportsItsExit) {
    test::TempDir tools;
    tools.write("korvane-probe", "#!/bin/sh\nprintf '%s|' \"$@\" >\"$PROBE_OUT\"\nexit 7\n", 0755);
    const std::string out = tools.file("probe.out");
    const std::string savedPath = std::getenv("PATH");
    ::setenv("PATH", (tools.path() + ":" + savedPath).c_str(), 1);
    ::setenv("PROBE_OUT", out.c_str(), 1);
    const ProcessRun run = runProgram({"korvane-probe", "-p1", "-fEvoload USB.dld"}, 60000);
    ::setenv("PATH", savedPath.c_str(), 1);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_EQ(tools.read("probe.out"), "-p1|-fEvoload USB.dld|");
}

TEST(ProcessRun, AProgramNotOnPathIsNotStarted) {
    const ProcessRun run = runProgram({"korvane-no-such-program-anywhere"}, 1000);
    EXPECT_FALSE(run.started);
    EXPECT_NE(run.error.find("korvane-no-such-program-anywhere"), std::string::npos);
    EXPECT_FALSE(runProgram({}, 1000).started);
}

TEST(ProcessRun, AnOverlongRunIsKilledAtItsLimit) {
    const ProcessRun run = runProgram({"sleep", "60"}, 200);
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_GE(run.elapsedMs, 200u);
    EXPECT_LT(run.elapsedMs, 60000u);
}

// The program inherits none of the loader's files beyond the standard streams.
TEST(ProcessRun, OpenFilesAreNotInherited) {
    test::TempDir folder;
    folder.write("held", "x");
    const int fd = ::open(folder.file("held").c_str(), O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(fd, 3);
    const ProcessRun run =
        runProgram({"sh", "-c", "[ ! -e /proc/self/fd/" + std::to_string(fd) + " ]"}, 60000);
    ::close(fd);
    EXPECT_EQ(run.exitCode, 0);
}

}  // namespace
}  // namespace korvane
