// Verifone loads through korvane-load: the simulated Vx805 or P400, the
// reference load server, and the ddl.exe stand-in first on PATH, all real
// processes, with the procedure waits scaled.
#include "tests/e2e/LoadRig.h"
#include "tests/e2e/VerifoneRig.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace korvane::test {
namespace {

using Texts = std::vector<std::string>;

const std::string kEthernet = "Verifone Vx805 - Load for Ethernet";
const std::string kNewXpi = "Verifone Vx805 Qentrall - Load new XPI";
const std::string kP400 = "RQ's";
const std::string kPackage = "KVP400SILENTD41.pkg";
const std::string kAdk = "1_VOS2_LOAD_SOLUTIONS_DL.TGZ";
const std::string kXpi = "2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ";

// The lines of `log` that begin with `prefix`.
Texts linesWith(const std::string& log, const std::string& prefix) {
    Texts lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

class VerifoneLoad : public ::testing::Test {
protected:
    void start(const PadSetup& pad) {
        rig = std::make_unique<LoadRig>(pad);
        ddl.attach(*rig, work);
    }
    // Ready for the next case: no rig, no runs, an empty working directory.
    void finish() {
        rig.reset();
        ddl.clear();
        for (const std::string& name : entriesOf(work.path())) std::filesystem::remove_all(work.file(name));
    }
    void placePackage() {
        work.write(kPackage, rig->sample("p400/" + kPackage));
    }
    // The expected files of a run: the bundle's entries, each private.
    Texts bundleOf(const std::string& model) { return bundleFileLines(rig->sample(rig->sampleFile(model))); }

    TempDir work;
    StandInRecord ddl;
    std::unique_ptr<LoadRig> rig;
};

// Download mode as the button and the connection ask for it, and the
// description named after the connection only for "Load new XPI".
TEST_F(VerifoneLoad, Vx805LoadsWithTheDescriptionOfItsButtonAndConnection) {
    const struct Case {
        std::string caption, connection, model, mode, description;
    } cases[] = {
        {kEthernet, "serial", "VX805_COMMSERVER", "1", "-fEvoloadSerial.dld"},
        {kEthernet, "usb", "VX805_COMMSERVER", "1", "-fEvoloadSerial.dld"},
        {kNewXpi, "usb", "VX805_ELV_XPI", "U", "-fEvoloadUSB.dld"},
        {kNewXpi, "serial", "VX805_ELV_XPI", "1", "-fEvoloadSerial.dld"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption + " over " + c.connection);
        start(verifonePad("Vx805"));
        const LoadRun run = rig->load(c.caption, c.connection);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out, "LOADED\noutcome: LOADED\n");
        EXPECT_EQ(run.err.find("Steps to enter download mode"), std::string::npos);
        EXPECT_EQ(linesWith(run.err, "ddl.exe ended with exit code 0 after ").size(), 1u) << run.err;

        const std::vector<StandInRun> runs = ddl.runs();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].arguments, (Texts{"-p1", "-b115200", "-k7", c.description}));
        // Every file of the bundle, private, during the run; none afterwards.
        EXPECT_EQ(runs[0].files, bundleOf(c.model));
        EXPECT_TRUE(runs[0].ended);
        EXPECT_EQ(entriesOf(work.path()), Texts{});

        EXPECT_EQ(rig->requests(), (Texts{"PP_LOAD " + c.model + " -> load 1", "PP_APP " + c.model,
                                          "PP_LOAD_STATUS load 1: LOADED"}));
        EXPECT_EQ(rig->loads().at(0, "model"), c.model);
        const std::string padLog = rig->padLog();
        EXPECT_EQ(linesWith(padLog, "download mode: "), Texts{"download mode: " + c.mode + (c.mode == "U" ? " (USB)" : " (serial)")});
        EXPECT_EQ(linesWith(padLog, "violation: "), Texts{}) << padLog;
        finish();
    }
}

// On any port but COM 1 "Load for Ethernet" never asks the pad: the operator
// puts it into download mode by hand, or cancels, and then nothing is
// fetched and nothing reported.
TEST_F(VerifoneLoad, EthernetOnAnotherPortShowsTheStepsWindow) {
    start(verifonePad("Vx805"));
    const std::string com1 = rig->devicesDir() + "/com1";
    std::filesystem::create_symlink(std::filesystem::read_symlink(com1), rig->devicesDir() + "/com7");
    const Texts base = {"load", "--model", kEthernet, "--port", "7", "--connection", "serial"};

    const LoadRun cancelled = rig->korvaneLoad(base);
    EXPECT_EQ(cancelled.status, 1);
    EXPECT_EQ(cancelled.out, "outcome: none\n");
    EXPECT_NE(cancelled.err.find("Steps to enter download mode: CANCEL"), std::string::npos) << cancelled.err;
    EXPECT_TRUE(ddl.runs().empty());

    Texts ready = base;
    ready.push_back("--download-mode-ready");
    const LoadRun loaded = rig->korvaneLoad(ready);
    EXPECT_EQ(loaded.status, 0) << loaded.out << loaded.err;
    EXPECT_EQ(loaded.out, "LOADED\noutcome: LOADED\n");
    EXPECT_NE(loaded.err.find("Steps to enter download mode: DOWNLOAD"), std::string::npos);
    ASSERT_EQ(ddl.runs().size(), 1u);
    EXPECT_EQ(ddl.runs()[0].arguments, (Texts{"-p7", "-b115200", "-k7", "-fEvoloadSerial.dld"}));

    // Only the second press reached the server.
    EXPECT_EQ(rig->requests(), (Texts{"PP_LOAD VX805_COMMSERVER -> load 1", "PP_APP VX805_COMMSERVER",
                                      "PP_LOAD_STATUS load 1: LOADED"}));
    EXPECT_EQ(linesWith(rig->padLog(), "download mode: "), Texts{});
}

// The running time alone judges a run: one that ends before 12 s (scaled)
// failed whatever it returned, one that outlasts 15 minutes (scaled) is stopped.
TEST_F(VerifoneLoad, Vx805RunsTooShortOrTooLongFail) {
    const struct Case {
        const char* what;
        const char* scale;
        const char* runMs;
        const char* status;  // the status line of the run
        bool ended;
    } cases[] = {
        // 11 s of 12 at half speed: 5.5 s of 6, with half a second to spare for starting it.
        {"exits after 11 s with 0", "0.5", "11000", "ddl.exe ended with exit code 0 after ", true},
        {"runs for an hour", "0.001", "3600000", "ddl.exe was stopped at its limit after ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start(verifonePad("Vx805"));
        rig->loadEnv["KORVANE_WAIT_SCALE"] = c.scale;
        rig->loadEnv["KORVANE_DDL_RUN_MS"] = c.runMs;
        const LoadRun run = rig->load(kEthernet);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "DDL load failed. Is pad waiting for download?\nFAIL-LOAD COMMSERVER\n"
                           "outcome: FAIL-LOAD COMMSERVER\n") << run.err;
        EXPECT_EQ(linesWith(run.err, c.status).size(), 1u) << run.err;
        ASSERT_EQ(ddl.runs().size(), 1u);
        EXPECT_EQ(ddl.runs()[0].ended, c.ended);
        EXPECT_EQ(entriesOf(work.path()), Texts{});
        // The worker reported the failure, and the handler once more.
        EXPECT_EQ(rig->requests(),
                  (Texts{"PP_LOAD VX805_COMMSERVER -> load 1", "PP_APP VX805_COMMSERVER",
                         "PP_LOAD_STATUS load 1: FAIL-LOAD COMMSERVER", "PP_LOAD_STATUS load 1: FAIL-LOAD COMMSERVER"}));
        finish();
    }
}

TEST_F(VerifoneLoad, P400LoadsTheAdkThenTheXpiWithTheInstallWaitsBetween) {
    start(verifonePad("P400"));
    placePackage();
    const LoadRun run = rig->load(kP400, "usb");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "LOADED\noutcome: LOADED\n");

    Texts steps;
    std::istringstream in(run.err);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Loading ", 0) == 0 || line.rfind("Waiting for ", 0) == 0 ||
            line.rfind("ddl.exe ended ", 0) == 0 || line == "Performing EMVParamDownload")
            steps.push_back(line.rfind("ddl.exe ended with exit code 0", 0) == 0 ? "ddl.exe ended" : line);
    EXPECT_EQ(steps, (Texts{"Loading ADK Upgrade", "ddl.exe ended",
                            "Waiting for ADK install. Device will restart multiple times.", "Loading XPI Upgrade",
                            "ddl.exe ended", "Waiting for XPI install. Device will restart.",
                            "Performing EMVParamDownload"}));

    const std::vector<StandInRun> runs = ddl.runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].arguments, (Texts{"-p1", "-b115200", "-k7", "-i" + kAdk}));
    EXPECT_EQ(runs[1].arguments, (Texts{"-p1", "-b115200", "-k7", "-i" + kXpi}));
    // The package's archives beside the package itself, which stays.
    Texts expected = bundleFileLines(rig->sample("p400/" + kPackage));
    for (const StandInRun& each : runs) {
        Texts files;
        for (const std::string& line : each.files)
            if (line.rfind(kPackage + " ", 0) != 0) files.push_back(line);
        EXPECT_EQ(files, expected);
    }
    EXPECT_EQ(entriesOf(work.path()), Texts{kPackage});

    EXPECT_EQ(rig->requests(), (Texts{"PP_LOAD P400_RQ_SILENTD41 -> load 1", "PP_LOAD_STATUS load 1: LOADED"}));
    const std::string padLog = rig->padLog();
    EXPECT_EQ(linesWith(padLog, "Z8: "), Texts{"Z8: Upgrade failed"});
    // Once by the handler, once between the archives.
    EXPECT_EQ(linesWith(padLog, "download mode: "), (Texts{"download mode: U (USB)", "download mode: U (USB)"}));
    EXPECT_EQ(linesWith(padLog, "violation: "), Texts{}) << padLog;
}

// At 0.005 a run must last 250 ms; the failing run lasts none.
TEST_F(VerifoneLoad, P400Failures) {
    const std::string runFailed = "DDL load failed. Is pad waiting for download and using correct communication method?";
    const struct Case {
        const char* what;
        std::string package;  // "sample": the sample package; empty: none
        const char* runMs;
        std::string out;
        size_t runs;
    } cases[] = {
        {"no package", "", "60000", "Could not find upgrade file.\nFAIL-DOWNLOAD FILES\noutcome: FAIL-DOWNLOAD FILES\n", 0},
        {"a failed ADK run", "sample", "60000,-i1_VOS2_LOAD_SOLUTIONS_DL.TGZ=0",
         runFailed + "\nFAIL-LOAD ADK\noutcome: FAIL-LOAD ADK\n", 1},
        {"a failed XPI run", "sample", "60000,-i2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ=0",
         runFailed + "\nFAIL-LOAD XPI\noutcome: FAIL-LOAD XPI\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start(verifonePad("P400"));
        if (c.package == "sample") placePackage();
        rig->loadEnv["KORVANE_WAIT_SCALE"] = "0.005";
        rig->loadEnv["KORVANE_DDL_RUN_MS"] = c.runMs;
        const LoadRun run = rig->load(kP400);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, c.out) << run.err;
        EXPECT_EQ(ddl.runs().size(), c.runs);
        EXPECT_EQ(entriesOf(work.path()), c.package.empty() ? Texts{} : Texts{kPackage});
        const std::string outcome = run.lastLine().substr(std::string("outcome: ").size());
        Texts expected = {"PP_LOAD P400_RQ_SILENTD41 -> load 1"};
        // A failed run is reported by the worker and again by the handler.
        if (c.runs > 0) expected.push_back("PP_LOAD_STATUS load 1: " + outcome);
        expected.push_back("PP_LOAD_STATUS load 1: " + outcome);
        EXPECT_EQ(rig->requests(), expected);
        finish();
    }
}

// A package that is no bundle ends the load with the unpacking text; nothing runs.
TEST_F(VerifoneLoad, P400PackageThatIsNoBundle) {
    start(verifonePad("P400"));
    work.write(kPackage, "00000099 this is not a bundle");
    const LoadRun run = rig->load(kP400);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind("Error trying to unpack load:\n", 0), 0u) << run.out;
    EXPECT_TRUE(ddl.runs().empty());
    EXPECT_EQ(entriesOf(work.path()), Texts{kPackage});
}

// What the handlers make of pads that answer wrongly or are another model.
TEST_F(VerifoneLoad, IdentificationFailures) {
    const struct Case {
        const char* what;
        PadSetup pad;
        std::string caption;
        std::string message;
    } cases[] = {
        {"S95 status 01", verifonePad("Vx805", {"status=01"}), kEthernet, "Could not communicate with PIN pad."},
        {"S95 reply too short", verifonePad("Vx805", {"short-reply"}), kEthernet, "Could not communicate with PIN pad."},
        {"tagged reply too short", verifonePad("Vx805", {"short-reply"}), kNewXpi, "Could not communicate with PIN pad."},
        {"S95 refused", verifonePad("Vx805", {"nak"}), kEthernet, "Could not communicate with PIN pad."},
        {"P400 status 01", verifonePad("P400", {"status=01"}), kP400, "Could not communicate with PIN pad."},
        {"a P400 button on a Vx805", verifonePad("Vx805"), kP400, "Only P400 supported at this time."},
        {"a Vx805 button on a P400", verifonePad("P400"), kNewXpi, "Only Vx805 supported at this time."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start(c.pad);
        placePackage();
        const LoadRun run = rig->load(c.caption);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, c.message + "\noutcome: none\n") << run.err;
        EXPECT_TRUE(ddl.runs().empty());
        EXPECT_EQ(rig->requests(), Texts{});
        finish();
    }
}

}  // namespace
}  // namespace korvane::test
