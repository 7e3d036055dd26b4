// RbaPad against the pad simulator's library on a real pseudo-terminal: what
// the loader frames, the simulated pad must put together again.
#include "pad/RbaPad.h"

#include "pad/SerialPort.h"
#include "platform/ComPortDevices.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tools/pad-sim/PadSimulator.h"
#include "job/LoadJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace korvane {
namespace {

const bool waitsScaled = [] { return ::setenv("KORVANE_WAIT_SCALE", "0.01", 1) == 0; }();

class SimRig {
public:
    explicit SimRig(padsim::PadSimOptions options = {}) {
        options.deviceDir = devices.path();
        options.port = 1;
        if (options.filesDir.empty()) options.filesDir = files.path();
        simulator = std::make_unique<padsim::PadSimulator>(options, nullptr);
        std::string error;
        EXPECT_TRUE(simulator->start(error)) << error;
        ::setenv(kDeviceFolderEnv, devices.path().c_str(), 1);
        EXPECT_TRUE(port.open(1, 115200, 'N', '8', '1', true)) << port.lastError();
        job.serialPort = &port;
        job.comPort = 1;
        job.usbConnection = true;
    }
    ~SimRig() {
        port.close();
        simulator->stop();
        ::unsetenv(kDeviceFolderEnv);
    }

    test::TempDir devices;
    test::TempDir files;
    std::unique_ptr<padsim::PadSimulator> simulator;
    SerialPort port;
    LoadJob job;
    RbaPad pad{InstallationConfig{}, &job};
};

// Random bytes in which every byte value occurs once the size allows it.
ByteArray randomFile(size_t size, std::mt19937& random) {
    ByteArray data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i < 256 ? i : random());
    std::shuffle(data.begin(), data.end(), random);
    return data;
}

std::string asText(const ByteArray& data) { return std::string(data.begin(), data.end()); }

TEST(RbaPadIntoSimulator, TheReassembledFileEqualsTheInput) {
    SimRig rig;
    std::mt19937 random(20240611);
    // 420000 bytes take more than 99 blocks, so the sequence wraps on the way.
    const size_t sizes[] = {1, 2, 31, 256, 3999, 4000, 4001, 8192, 65537, 300000, 420000};
    for (const size_t size : sizes) {
        const ByteArray data = randomFile(size, random);
        const std::string name = "F" + std::to_string(size) + ".BIN";
        std::string error;
        ASSERT_TRUE(rig.pad.loadFile(data, name, error)) << size << ": " << error;
        ASSERT_TRUE(rig.simulator->hasFile(name)) << size;
        EXPECT_TRUE(rig.simulator->file(name) == asText(data)) << size;
        EXPECT_TRUE(rig.files.read(name) == asText(data)) << size;
    }
    // Seeded random sizes from 0 to 300000 as well.
    std::uniform_int_distribution<size_t> anySize(0, 300000);
    for (int round = 0; round < 4; ++round) {
        const size_t size = anySize(random);
        const ByteArray data = randomFile(size, random);
        std::string error;
        ASSERT_TRUE(rig.pad.loadFile(data, "R.BIN", error)) << size << ": " << error;
        EXPECT_TRUE(rig.simulator->file("R.BIN") == asText(data)) << size;
    }
    std::string error;
    ASSERT_TRUE(rig.pad.loadFile(ByteArray{}, "EMPTY.BIN", error));
    EXPECT_FALSE(rig.simulator->hasFile("EMPTY.BIN")) << "nothing is sent for no data";
}

TEST(RbaPadIntoSimulator, ParametersAndTheV4Suffix) {
    padsim::PadSimOptions options;
    options.modelSuffix = "31";
    options.parameters = {{"14.5", "KORVANEL5000"}};
    SimRig rig(options);
    std::string value, error;
    ASSERT_TRUE(rig.pad.getParameter("14", "05", value, error)) << error;
    EXPECT_EQ(value, "KORVANEL5000") << "14.05 and 14.5 are one parameter";

    ASSERT_TRUE(rig.pad.setParameter("14", "5", "KORVANEIPP350", error)) << error;
    EXPECT_EQ(rig.simulator->parameter("14.5"), "KORVANEIPP350");
    EXPECT_NE(rig.files.read("parameters.txt").find("14.5=KORVANEIPP350\n"), std::string::npos);

    const size_t before = rig.simulator->messages().size();
    EXPECT_TRUE(rig.pad.ensureParameter("14", "05", "KORVANEIPP350"));
    EXPECT_EQ(rig.simulator->messages().size(), before + 1) << "held already: read only";

    ASSERT_TRUE(rig.pad.identify(error)) << error;
    EXPECT_EQ(rig.job.deviceInfo.padModel, "iPP350");
    ASSERT_TRUE(rig.pad.setParameter("13", "23", "1", error));
    ASSERT_TRUE(rig.pad.identify(error)) << error;
    EXPECT_EQ(rig.job.deviceInfo.padModel, "iPP350-31");
    EXPECT_EQ(rig.job.deviceInfo.padAppVersion, "2301");
    EXPECT_EQ(rig.job.deviceInfo.oemId, "KORVANE");

    ASSERT_TRUE(rig.pad.setParameterList(error)) << error;
    EXPECT_EQ(rig.simulator->parameter("9.14"), "1000");
    EXPECT_EQ(rig.simulator->parameter("7.1"), "3");
    EXPECT_EQ(rig.pad.checkEncryptionKeys(), "");
}

TEST(RbaPadIntoSimulator, AnApplicationImageInstallsAndThePadRestarts) {
    ASSERT_TRUE(waitsScaled);
    padsim::PadSimOptions options;
    options.installMs = 50;
    options.restartMs = 500;
    SimRig rig(options);
    std::mt19937 random(7);
    ByteArray image = randomFile(9000, random);
    const std::string marker = "RBA_APP_VERSION=2402\n";
    image.insert(image.begin() + 4500, marker.begin(), marker.end());
    std::string error;
    ASSERT_TRUE(rig.pad.loadFile(image, "APP2402.OGZ", error)) << error;
    EXPECT_EQ(rig.simulator->appVersion(), "2402");

    // Silent while it restarts: the wait for the pad sees it come back.
    ASSERT_TRUE(rig.pad.waitForPad(error, 35, true));
    EXPECT_EQ(error, "");
    ASSERT_TRUE(rig.pad.identify(error)) << error;
    EXPECT_EQ(rig.job.deviceInfo.padAppVersion, "2402");
}

TEST(RbaPadIntoSimulator, ContactlessDefaultsLandInThePad) {
    SimRig rig;
    std::string error;
    const std::string document = "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<tlvtree version=\"1.0\"/>\r\n";
    ASSERT_TRUE(rig.pad.setContactlessDefaults(error, false, document)) << error;
    EXPECT_EQ(rig.simulator->parameter("8.1"), "1");
    EXPECT_EQ(rig.simulator->parameter("8.15"), "2");
    EXPECT_EQ(rig.simulator->parameter("8.16"), "2");
    EXPECT_EQ(rig.simulator->file("EMVCLESS.XML"), document);
}

TEST(RbaPadIntoSimulator, RefusedAndBrokenDownloadsFailWithTheirTexts) {
    padsim::PadSimOptions options;
    padsim::PadFault nak;
    nak.kind = padsim::PadFault::Kind::nak;
    nak.count = 6;
    nak.scope = "62";
    padsim::PadFault refuse;
    refuse.kind = padsim::PadFault::Kind::refuseFile;
    options.faults = {nak, refuse};
    SimRig rig(options);
    std::string error;
    EXPECT_FALSE(rig.pad.loadFile(ByteArray(5000, 'x'), "A.BIN", error));
    EXPECT_EQ(error, "A.BIN Load Command To Device Failed on block 1.");
    EXPECT_EQ(rig.job.errorText, error);
    EXPECT_FALSE(rig.pad.loadFile(ByteArray(5000, 'x'), "A.BIN", error));
    EXPECT_EQ(error.rfind("A.BIN Load Command (62.0) Returned Error. + [62.9", 0), 0u) << error;
    EXPECT_FALSE(rig.simulator->hasFile("A.BIN"));
    EXPECT_TRUE(rig.pad.loadFile(ByteArray(5000, 'x'), "A.BIN", error)) << error;
    EXPECT_TRUE(rig.simulator->hasFile("A.BIN"));
}

}  // namespace
}  // namespace korvane
