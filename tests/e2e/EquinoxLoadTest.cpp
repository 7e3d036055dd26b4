// Whole Equinox L5300 loads: korvane-load, the reference load server and the
// pad simulator as real processes, on a pseudo-terminal and TLS on loopback.
#include "tests/e2e/EquinoxPackages.h"
#include "tests/e2e/LoadRig.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace korvane {
namespace {

using test::EquinoxBundle;
using test::LoadRig;
using test::PadSetup;
using Texts = std::vector<std::string>;

constexpr char kCaption[] = "Equinox L5300 - Load FPE and Forms";

std::string context(const test::LoadRun& run) { return "stdout:\n" + run.out + "\nstderr:\n" + run.err; }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An L5300 of generation `pci` ("PCI2" or "PCI3") with `extra` options; it
// keeps each transfer's files in `transfers`/1, /2 ...
PadSetup l5300(const std::string& pci, const test::TempDir& transfers, std::vector<std::string> extra = {}) {
    PadSetup pad;
    pad.model = "L5300-" + pci;
    pad.appVersion = "0012";
    // Back at once after its restart: the loader's first "T" is answered.
    pad.extra = {"--restart-time", "0", "--transfers-dir", transfers.path()};
    pad.extra.insert(pad.extra.end(), extra.begin(), extra.end());
    return pad;
}

// The names the pad asked for, in order, from its log.
Texts requestedNames(const std::string& log) {
    Texts names;
    const std::regex asking("asking for \"([^\"]*)\"");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), asking); it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    return names;
}

Texts namesOf(const EquinoxBundle& bundle) {
    Texts names;
    for (const auto& file : bundle.files) names.push_back(file.first);
    return names;
}

Texts joined(const Texts& a, const Texts& b) {
    Texts all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

TEST(EquinoxLoad, APci2PadGetsItsFpeAndFormsInTheOrderItAsksAndIsReportedLoaded) {
    test::TempDir transfers;
    LoadRig rig(l5300("PCI2", transfers, {"--verbose"}));
    const std::vector<EquinoxBundle> bundles = test::equinoxSampleBundles();
    test::writeEquinoxPackages(rig.packagesDir(), bundles);

    const test::LoadRun run = rig.load(kCaption);
    EXPECT_EQ(run.status, 0) << context(run);
    EXPECT_EQ(run.lastLine(), "outcome: LOADED") << context(run);
    EXPECT_TRUE(run.says("LOADED\noutcome: LOADED")) << context(run);
    for (const char* status : {"Communicating with pad ... ", "Connecting to server to retrieve application... ",
                               "Deleting all files on Pad", "Loading FPE...", "Loading Korvane Forms...",
                               "Rebooting Terminal"})
        EXPECT_NE(run.err.find(status), std::string::npos) << status << "\n" << context(run);

    EXPECT_EQ(rig.requests(), (Texts{"PP_LOAD EQ_L5300_PCI2_SILVE2E -> load 1", "PP_APP EQ_L5XXX_FPE_PCI2",
                                     "PP_APP EQ_L5300_PCI2_SILVE2E", "PP_LOAD_STATUS load 1: LOADED"}));
    const test::Table loads = rig.loads();
    ASSERT_EQ(loads.rows.size(), 1u);
    EXPECT_EQ(loads.at(0, "model"), "EQ_L5300_PCI2_SILVE2E");
    EXPECT_EQ(loads.at(0, "app_version"), "0012");
    EXPECT_EQ(loads.at(0, "config_version"), "1234") << "0012 and MV 0340, their zeros trimmed";
    EXPECT_EQ(loads.at(0, "oem_id"), "KORVANE");
    EXPECT_EQ(loads.at(0, "outcome"), "LOADED");
    EXPECT_EQ(loads.at(0, "reported_app_version"), "FORMSPCI2-3");
    EXPECT_EQ(loads.at(0, "reported_config_version"), "FORMSPCI2-3");
    EXPECT_EQ(loads.at(0, "reports"), "1");

    const EquinoxBundle& fpe = test::bundleOf(bundles, "EQ_L5XXX_FPE_PCI2");
    const EquinoxBundle& forms = test::bundleOf(bundles, "EQ_L5300_PCI2_SILVE2E");
    const std::string log = rig.padLog();
    EXPECT_EQ(requestedNames(log), joined(namesOf(fpe), namesOf(forms))) << log;
    EXPECT_EQ(log.find("violation:"), std::string::npos) << log;
    // Full "Y" chunks, then the rest in an "N" chunk (the simulator checks each chunk's flag and length).
    EXPECT_NE(log.find("\"FPE_PCI2.BIN\" chunk 2: Y, 65000 bytes"), std::string::npos) << log;
    EXPECT_NE(log.find("\"FPE_PCI2.BIN\", 130001 bytes in 3 chunks"), std::string::npos) << log;
    EXPECT_NE(log.find("\"FORMS.K3Z\", 65001 bytes in 2 chunks"), std::string::npos) << log;
    EXPECT_NE(log.find("\"L5300.SIG\", 65000 bytes in 1 chunk "), std::string::npos) << log;
    int transfer = 0;
    for (const EquinoxBundle* bundle : {&fpe, &forms}) {
        ++transfer;
        const std::string folder = transfers.path() + "/" + std::to_string(transfer) + "/";
        EXPECT_EQ(readFile(folder + "PACKINGLIST"), test::packingListOf(*bundle));
        for (const auto& [name, data] : bundle->files) {
            ASSERT_TRUE(std::filesystem::exists(folder + name)) << folder + name << "\n" << log;
            EXPECT_TRUE(readFile(folder + name) == data) << name;
        }
    }
}

TEST(EquinoxLoad, KeyFaultsAreShownReportedAndNothingIsLoaded) {
    const struct Case {
        std::vector<std::string> padOptions;
        const char* text;
        const char* outcome;
    } cases[] = {
        {{"--pan-ksn", "none"}, "No PAN key found.", "FAIL-NO SILVANE PAN"},
        {{"--key-checksum", "7A3D90C1;Usage=DATAENC"}, "E2E enablement key not present.", "FAIL-LOAD KEYS"},
        {{"--pin-ksn", "FFFF3D0199A41B000001"}, "Incorrect PIN found. Please contact Olbrek.", "FAIL-NO SILVANE PIN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        test::TempDir transfers;
        LoadRig rig(l5300("PCI2", transfers, c.padOptions));
        test::writeEquinoxPackages(rig.packagesDir(), test::equinoxSampleBundles());
        const test::LoadRun run = rig.load(kCaption);
        EXPECT_EQ(run.status, 1) << context(run);
        EXPECT_TRUE(run.says(std::string(c.text) + "\n")) << context(run);
        EXPECT_EQ(run.lastLine(), std::string("outcome: ") + c.outcome) << context(run);
        EXPECT_EQ(rig.requests(), (Texts{"PP_LOAD EQ_L5300_PCI2_SILVE2E -> load 1",
                                         std::string("PP_LOAD_STATUS load 1: ") + c.outcome}));
        const std::string log = rig.padLog();
        EXPECT_EQ(log.find("LALL"), std::string::npos) << log;
        EXPECT_EQ(log.find("PL5"), std::string::npos) << log;
    }
}

TEST(EquinoxLoad, ABundleCutShortIsNotUnpacked) {
    test::TempDir transfers;
    LoadRig rig(l5300("PCI2", transfers));
    std::vector<EquinoxBundle> bundles = test::equinoxSampleBundles();
    for (EquinoxBundle& bundle : bundles)
        if (bundle.package == "EQ_L5XXX_FPE_PCI2") bundle.cutShortBy = "1";
    // The empty last file has no data to lose: cut a file that has some.
    std::swap(bundles[0].files[0], bundles[0].files[3]);
    test::writeEquinoxPackages(rig.packagesDir(), bundles);
    const test::LoadRun run = rig.load(kCaption);
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_TRUE(run.says("Error Trying to Unpack FPE:\nThe bundle ends inside entry 5: 130041 bytes announced, "
                         "130040 left.\n"))
        << context(run);
    // The worker stopped before it set an outcome: the report carries none.
    EXPECT_EQ(run.lastLine(), "outcome: ") << context(run);
    const std::string log = rig.padLog();
    EXPECT_EQ(log.find("LALL"), std::string::npos) << log;
}

TEST(EquinoxLoad, ANameNotInTheBundleFailsTheFpeAndIsReportedTwiceWithoutForms) {
    test::TempDir transfers;
    LoadRig rig(l5300("PCI2", transfers, {"--fault", "unknown-request=NOPE.DAT"}));
    test::writeEquinoxPackages(rig.packagesDir(), test::equinoxSampleBundles());
    const test::LoadRun run = rig.load(kCaption);
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_TRUE(run.says("Failed to find NOPE.DAT in download.\nFAIL-LOAD FPE\noutcome: FAIL-LOAD FPE"))
        << context(run);
    EXPECT_EQ(rig.requests(), (Texts{"PP_LOAD EQ_L5300_PCI2_SILVE2E -> load 1", "PP_APP EQ_L5XXX_FPE_PCI2",
                                     "PP_APP EQ_L5300_PCI2_SILVE2E", "PP_LOAD_STATUS load 1: FAIL-LOAD FPE",
                                     "PP_LOAD_STATUS load 1: FAIL-LOAD FPE"}));
    EXPECT_EQ(rig.loads().at(0, "reports"), "2");
    EXPECT_EQ(run.err.find("Loading Korvane Forms..."), std::string::npos) << context(run);
}

TEST(EquinoxLoad, APadThatNeverAnswersAfterItsRestartIsReportedFailedAndGetsNoForms) {
    test::TempDir transfers;
    LoadRig rig(l5300("PCI2", transfers, {"--fault", "refuse-after-restart"}));
    test::writeEquinoxPackages(rig.packagesDir(), test::equinoxSampleBundles());
    const test::LoadRun run = rig.load(kCaption);
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_TRUE(run.says("Failed after reboot.\nFAIL-LOAD FPE\noutcome: FAIL-LOAD FPE")) << context(run);
    EXPECT_EQ(run.err.find("Loading Korvane Forms..."), std::string::npos) << context(run);
    const std::string log = rig.padLog();
    const std::regex refused("refusing \\(fault refuse-after-restart\\): \"T\" NAKed");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), refused), std::sregex_iterator()), 225)
        << log;
}

TEST(EquinoxLoad, APadAnsweringLIsRefusedWithItsReply) {
    test::TempDir transfers;
    LoadRig rig(l5300("PCI2", transfers, {"--type-letter", "L"}));
    test::writeEquinoxPackages(rig.packagesDir(), test::equinoxSampleBundles());
    const test::LoadRun run = rig.load(kCaption, "usb");
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_TRUE(run.says("Model does not appear to be L5300 Expecting 'H' or 'K' received 'L' [SX]TL[EX]"))
        << context(run);
    EXPECT_EQ(run.lastLine(), "outcome: none") << context(run);
    EXPECT_EQ(rig.requests(), Texts{});
}

}  // namespace
}  // namespace korvane
