// Whole iPP350 serial loads over a noisy line: korvane-pad-sim with
// --fault noise=RATE:SEED changes, drops and duplicates bytes both ways.
// Whatever the noise does, every run ends within the link's time-outs with
// an outcome; a "LOADED" run holds every file as the server sent it; a failed
// run reports the outcome of the step where it failed. A failing case names
// its rate and seed, and `korvane-pad-sim --fault noise=RATE:SEED` replays it.

#include "tests/e2e/LoadRig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace korvane {
namespace {

using test::LoadRig;

constexpr size_t kBlockSize = 4000;

// What the loader shows or posts when a step fails, and the outcome that step
// reports (serial connection), earliest step first. A failure before the load
// is registered reports none.
struct FailedStep {
    const char* shown;
    const char* outcome;
};
const FailedStep kFailedSteps[] = {
    {"No Valid Response to '07' Command", "none"},
    {"Getting encryption keys from device failed", "FAIL-LOAD KEYS-SERIAL"},
    {"Failed to load RBA file after.", "FAIL-LOAD RBA-SERIAL"},
    {"Could not reopen port after restart.", "FAIL-AFTER REBOOT-SERIAL-PORTNOTOPEN"},
    {"Failed to load Config bundle.", "FAIL-LOAD CONFIG-SERIAL"},
    {"Failed to reboot device", "FAIL-AFTER REBOOT-SERIAL"},
    {"Could not communicate with device using current port.", "FAIL-AFTER REBOOT-SERIAL-TIMEDOUT"},
    {"Error Returned trying to set On Demand Param", "FAIL-LOAD VAR 7 28-SERIAL"},
    {"Error Returned trying to set Close Form Name", "FAIL-LOAD VAR OFFLINE.K3Z-SERIAL"},
    {"Error Returned trying to set Signature Data", "FAIL-LOAD SIG DATA-SERIAL"},
    {"Error Returned trying to Load File\n", "FAIL-LOAD FILE OFFLINE.K3Z-SERIAL"},
    {"Error Returned trying to Load File.\n", "FAIL-LOAD FILE CCOD.K3Z-SERIAL"},
    {"Failed.\n", "FAIL"},
    {"Failed to load Korvane info", "FAIL-LOAD KORVANE INFO-SERIAL"},
};

// The block (from 1) of a "62." download that carries byte `offset` of
// `data`: payloads are filled, escapes counted, until they reach the block size.
size_t blockHolding(const std::string& data, size_t offset) {
    size_t block = 1, payload = 0;
    for (size_t i = 0; i < data.size() && i <= offset; ++i) {
        if (payload >= kBlockSize) {
            ++block;
            payload = 0;
        }
        const auto byte = static_cast<unsigned char>(data[i]);
        payload += byte < 0x20 || byte == 0xFF ? 2 : 1;
    }
    return block;
}

// Empty when equal, else where the pad's copy first differs.
std::string difference(const std::string& name, const std::string& onPad, const std::string& sent) {
    if (onPad == sent) return {};
    size_t at = 0;
    while (at < onPad.size() && at < sent.size() && onPad[at] == sent[at]) ++at;
    return name + " differs on the pad from byte " + std::to_string(at) + " (\"62.\" block " +
           std::to_string(blockHolding(sent, at)) + " of its download), " + std::to_string(onPad.size()) +
           " bytes on the pad, " + std::to_string(sent.size()) + " sent";
}

struct Noise {
    const char* rate;
    unsigned seed;
};

void PrintTo(const Noise& noise, std::ostream* out) { *out << "noise=" << noise.rate << ":" << noise.seed; }

std::string caseName(const testing::TestParamInfo<Noise>& info) {
    std::string name = std::string("rate_") + info.param.rate + "_seed_" + std::to_string(info.param.seed);
    for (char& c : name)
        if (c == '-' || c == '.') c = '_';
    return name;
}

class NoisyLoad : public testing::TestWithParam<Noise> {};

TEST_P(NoisyLoad, EndsWithTheOutcomeOfWhereItStoodAndALoadedPadHoldsEveryFile) {
    const Noise noise = GetParam();
    const std::string fault = std::string("noise=") + noise.rate + ":" + std::to_string(noise.seed);
    SCOPED_TRACE("replay: korvane-pad-sim --fault " + fault);
    test::PadSetup pad;
    pad.faults = {fault};
    LoadRig rig(pad);
    const auto started = std::chrono::steady_clock::now();
    // The longest link wait that noise can bring about is a lost reply to a
    // final block: 1500 s. Anything past this bound is reported, not waited out.
    const test::LoadRun run = rig.korvaneLoad(
        {"load", "--model", "Ingenico iPP350", "--port", "1", "--connection", "serial"}, 240000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s: %s after %.1f s\n", fault.c_str(), run.lastLine().c_str(), seconds);
    const std::string context = "stdout:\n" + run.out + "\nstderr (tail):\n" +
                                run.err.substr(run.err.size() > 4000 ? run.err.size() - 4000 : 0);
    ASSERT_NE(run.status, -1) << "still running after 240 s\n" << context;
    ASSERT_TRUE(run.status == 0 || run.status == 1) << "exit status " << run.status << "\n" << context;
    ASSERT_EQ(run.lastLine().rfind("outcome: ", 0), 0u) << context;
    const std::string outcome = run.lastLine().substr(9);

    if (outcome == "LOADED") {
        EXPECT_EQ(run.status, 0);
        std::vector<std::string> differences;
        for (const auto& [onPad, sample] : std::vector<std::pair<std::string, std::string>>{
                 {rig.infoFileName("iPP350_RBA"), "apps/iPP350_RBA.bin"},
                 {rig.infoFileName("iPP350_KVS_SERIAL"), "configs/iPP350_KVS_SERIAL.bin"},
                 {"Secbin.pgz", "files/Secbin_21.pgz"}}) {
            if (!rig.padHas(onPad)) {
                differences.push_back(onPad + " is not on the pad");
                continue;
            }
            const std::string found = difference(onPad, rig.padFile(onPad), rig.sample(sample));
            if (!found.empty()) differences.push_back(found);
        }
        for (const char* name : {"OFFLINE.K3Z", "CUSTPROMPT.PGZ", "EMVCLESS.XML"})
            if (!rig.padHas(name) || rig.padFile(name).empty()) differences.push_back(std::string(name) + " missing");
        const auto parameters = rig.padParameters();
        for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
                 {"7.28", "1"}, {"30.1", "OFFLINE.K3Z"}, {"14.5", "KORVANEIPP350"}})
            if (parameters.count(key) == 0 || parameters.at(key) != value)
                differences.push_back("parameter " + key + " is not " + value);
        EXPECT_TRUE(differences.empty()) << "LOADED with " << fault << ", but:\n"
                                         << testing::PrintToString(differences) << "\n"
                                         << rig.padLog();
    } else {
        EXPECT_EQ(run.status, 1) << context;
        const FailedStep* step = nullptr;
        const std::string said = run.out + "\n" + run.err;
        for (const FailedStep& candidate : kFailedSteps)
            if (said.find(candidate.shown) != std::string::npos) {
                step = &candidate;
                break;
            }
        ASSERT_NE(step, nullptr) << "a failure no step explains\n" << context;
        EXPECT_EQ(outcome, step->outcome) << "after \"" << step->shown << "\"\n" << context;
        const test::Table loads = rig.loads();
        if (outcome == "none") {
            EXPECT_TRUE(loads.rows.empty());
        } else {
            ASSERT_EQ(loads.rows.size(), 1u);
            EXPECT_EQ(loads.at(0, "outcome"), outcome);
        }
    }
}

// Per byte: about one error per load, a dozen, some forty (a third of the
// 4000-byte blocks are hit), more than a hundred (nearly every block is hit;
// the load fails early). The seeds are fixed.
INSTANTIATE_TEST_SUITE_P(Matrix, NoisyLoad,
                         testing::Values(Noise{"1e-5", 1}, Noise{"1e-5", 2}, Noise{"1e-5", 3},
                                         Noise{"1e-4", 1}, Noise{"1e-4", 2}, Noise{"1e-4", 3}, Noise{"1e-4", 4},
                                         Noise{"1e-4", 5}, Noise{"3e-4", 1}, Noise{"3e-4", 2}, Noise{"3e-4", 3},
                                         Noise{"3e-4", 4}, Noise{"3e-4", 5}, Noise{"1e-3", 1}, Noise{"1e-3", 2},
                                         Noise{"1e-3", 3}, Noise{"1e-3", 4}, Noise{"1e-3", 5}),
                         caseName);

}  // namespace
}  // namespace korvane
