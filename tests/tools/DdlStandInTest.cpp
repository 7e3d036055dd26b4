#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace korvane {
namespace {

using test::ChildProcess;
using test::TempDir;

std::vector<std::string> linesOf(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The stand-in run in `work` with `args`, recording into `record`.
struct StandInRun {
    int status;
    std::string err;
};

StandInRun runStandIn(const TempDir& work, const std::string& record, const std::vector<std::string>& args,
                      const std::map<std::string, std::optional<std::string>>& env = {}) {
    ChildProcess::Options options;
    options.workingDirectory = work.path();
    options.env = env;
    options.env["KORVANE_DDL_RECORD"] = record;
    if (!options.env.count("KORVANE_DDL_RUN_MS")) options.env["KORVANE_DDL_RUN_MS"] = "0";
    ChildProcess child(KORVANE_DDL_PATH, args, options);
    const int status = child.waitForExit(60000);
    return {status, child.standardError()};
}

TEST(DdlStandIn, RecordsArgumentsAndEveryFileOfItsWorkingDirectory) {
    TempDir work, records;
    work.write("EvoloadUSB.dld", "abc", 0600);
    work.write("APP.ZIP", "", 0644);
    const std::string record = records.file("r");
    const StandInRun run = runStandIn(work, record, {"-p7", "-b115200", "-k7", "-fEvoloadUSB.dld"},
                                      {{"KORVANE_DDL_EXIT", "4"}});
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_EQ(linesOf(record + "/run-001/arguments"),
              (std::vector<std::string>{"-p7", "-b115200", "-k7", "-fEvoloadUSB.dld"}));
    EXPECT_EQ(linesOf(record + "/run-001/files"),
              (std::vector<std::string>{
                  "APP.ZIP 0 644 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
                  "EvoloadUSB.dld 3 600 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}));
    EXPECT_TRUE(linesOf(record + "/run-001/violations").empty());
    EXPECT_EQ(linesOf(record + "/run-001/ended"), std::vector<std::string>{"exit 4"});
    // A second run gets its own folder.
    EXPECT_EQ(runStandIn(work, record, {"-p1", "-b115200", "-k7", "-iAPP.ZIP"}).status, 0);
    EXPECT_EQ(linesOf(record + "/run-002/arguments").back(), "-iAPP.ZIP");
}

TEST(DdlStandIn, RefusesCommandLinesThatDeviate) {
    TempDir work, records;
    work.write("EvoloadSerial.dld", "x");
    const struct Case {
        std::vector<std::string> args;
        std::string violation;
    } cases[] = {
        {{"-p1", "-b115200", "-k7", "-fEvoloadUSB.dld"},
         "the named file EvoloadUSB.dld is not in the working directory"},
        {{"-p0", "-b115200", "-k7", "-fEvoloadSerial.dld"}, "port 0 is not 1 to 255"},
        {{"-p1", "-b9600", "-k7", "-fEvoloadSerial.dld"}, "argument 2 is not -b115200: \"-b9600\""},
        {{"-p1", "-b115200", "-k7"}, "expected 4 arguments, got 3"},
        {{"-p1 -b115200 -k7 -fEvoloadSerial.dld"}, "expected 4 arguments, got 1"},
        {{"-p1", "-b115200", "-k7", "-fOther.dld"},
         "-f names neither EvoloadSerial.dld nor EvoloadUSB.dld: \"Other.dld\""},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.violation);
        const std::string record = records.file("r" + std::to_string(++number));
        const StandInRun run = runStandIn(work, record, c.args);
        EXPECT_EQ(run.status, 2);
        const std::vector<std::string> violations = linesOf(record + "/run-001/violations");
        EXPECT_NE(std::find(violations.begin(), violations.end(), c.violation), violations.end())
            << ::testing::PrintToString(violations);
        EXPECT_NE(run.err.find("violation: " + c.violation), std::string::npos);
    }
}

// The running time and the exit status may be set per run by an argument;
// times are scaled like the loader's procedure waits.
TEST(DdlStandIn, PerRunSettingsAndAnOptionForTheRecord) {
    TempDir work, records;
    work.write("1_A.TGZ", "a");
    work.write("2_B.TGZ", "b");
    const std::map<std::string, std::optional<std::string>> env = {
        {"KORVANE_DDL_RUN_MS", "0,-i2_B.TGZ=3600000"}, {"KORVANE_DDL_EXIT", "0,-i1_A.TGZ=9"},
        {"KORVANE_WAIT_SCALE", "0.001"}};
    const std::string record = records.file("r");
    EXPECT_EQ(runStandIn(work, record, {"-p1", "-b115200", "-k7", "-i1_A.TGZ"}, env).status, 9);

    ChildProcess::Options options;
    options.workingDirectory = work.path();
    options.env = env;
    options.env["KORVANE_DDL_RECORD"] = std::nullopt;
    ChildProcess slow(KORVANE_DDL_PATH, {"--record", record, "-p1", "-b115200", "-k7", "-i2_B.TGZ"}, options);
    // 3600 s at a thousandth: still running after a moment, ended within seconds.
    EXPECT_EQ(slow.waitForExit(200), -1);
    EXPECT_EQ(slow.waitForExit(30000), 0);
    EXPECT_EQ(linesOf(record + "/run-002/arguments").back(), "-i2_B.TGZ");
}

}  // namespace
}  // namespace korvane
