// A COM port device this user may not open: the operator's message, and what
// korvane-load adds on standard error. Tests run as root, who may open
// anything, so the refusal comes from the platform layer's test seam; the
// commands run in this process for it to apply.
#include "app/cli/CommandLine.h"
#include "platform/DeviceAccess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace korvane {
namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// runCommandLine with standard output and error caught in files.
CliRun runInProcess(std::vector<std::string> args) {
    test::TempDir capture;
    args.insert(args.begin(), "korvane-load");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1), savedErr = ::dup(2);
    const int out = ::open(capture.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(capture.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    const int status = runCommandLine(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    for (int fd : {out, err, savedOut, savedErr}) ::close(fd);
    return {status, readAll(capture.file("out")), readAll(capture.file("err"))};
}

class PortAccessDiagnosis : public ::testing::Test {
protected:
    void SetUp() override {
        // The device itself is never reached: the refusal comes first.
        dir.write("ttyUSB0", "", 0660);
        // Given to the serial group, as udev does on Debian, so that the remedy is to join it.
        const struct group* dialout = ::getgrnam("dialout");
        joinable = dialout != nullptr && dialout->gr_gid != ::getegid() &&
                   ::chown(device().c_str(), static_cast<uid_t>(-1), dialout->gr_gid) == 0;
        std::filesystem::create_symlink(device(), dir.file("com3"));
        dir.write("loader.conf",
                  "[load-server]\nprimary-host = 127.0.0.1\nsecondary-host = 127.0.0.1\nport = 9\n"
                  "installation-serial = 0100-2200-33\nchallenge-secret = K0RVANE7TESTSECRET0123456789ABCDE\n");
        ::setenv("KORVANE_DEVICE_DIR", dir.path().c_str(), 1);
        ::unsetenv("KORVANE_WAIT_SCALE");
        setDeviceRefusedForTesting(device(), EACCES);
    }
    void TearDown() override {
        setDeviceRefusedForTesting(device(), 0);
        ::unsetenv("KORVANE_DEVICE_DIR");
    }
    std::string device() const { return dir.file("ttyUSB0"); }

    // The lines korvane-load adds: the path, the reason, then the remedy.
    void expectAdvice(const std::string& err) const {
        EXPECT_NE(err.find("korvane-load: cannot open " + dir.file("com3") + " -> " + device() +
                           ": Permission denied\nkorvane-load: remedy: "),
                  std::string::npos)
            << err;
        if (joinable) {
            EXPECT_NE(err.find("to group \"dialout\""), std::string::npos) << err;
        }
    }

    test::TempDir dir;
    bool joinable = false;
};

TEST_F(PortAccessDiagnosis, IdentifyShowsTheOperatorsMessageAndAddsPathReasonAndRemedy) {
    const CliRun run = runInProcess({"identify", "--port", "3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Failed on Com Port Access.\n");
    expectAdvice(run.err);
}

TEST_F(PortAccessDiagnosis, ALoadShowsTheOperatorsMessageAndAddsPathReasonAndRemedy) {
    const CliRun run = runInProcess({"--config", dir.file("loader.conf"), "load", "--model", "Ingenico iPP350",
                                     "--port", "3", "--connection", "serial"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Failed on Com Port Access.\noutcome: none\n");
    expectAdvice(run.err);
}

TEST_F(PortAccessDiagnosis, NoAdviceWhenThePortIsOutOfRangeOrAfterTheAdviceWasGiven) {
    expectAdvice(runInProcess({"identify", "--port", "3"}).err);
    const CliRun outOfRange = runInProcess({"identify", "--port", "0"});
    EXPECT_EQ(outOfRange.out, "Com Port Out of Range(1-255).\n");
    EXPECT_EQ(outOfRange.err.find("cannot open"), std::string::npos) << outOfRange.err;
}

TEST_F(PortAccessDiagnosis, PortsTellsWhetherThisUserCanOpenEachDevice) {
    std::filesystem::create_symlink(dir.file("loader.conf"), dir.file("com4"));  // any openable file
    const CliRun refused = runInProcess({"ports"});
    EXPECT_EQ(refused.status, 0) << refused.err;
    EXPECT_NE(refused.out.find("    3  com3 -> " + device() + "  (this user cannot open it: Permission denied)\n"),
              std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("com4 -> " + dir.file("loader.conf") + "  (this user can open it)\n"), std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("\n" + device() + ": "), std::string::npos) << "the remedy follows:\n" << refused.out;
    if (joinable) {
        EXPECT_NE(refused.out.find("to group \"dialout\""), std::string::npos) << refused.out;
    }

    setDeviceRefusedForTesting(device(), 0);
    const CliRun allowed = runInProcess({"ports"});
    EXPECT_NE(allowed.out.find("    3  com3 -> " + device() + "  (this user can open it)\n"), std::string::npos)
        << allowed.out;
}

}  // namespace
}  // namespace korvane
