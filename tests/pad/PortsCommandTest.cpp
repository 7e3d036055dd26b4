#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tools/padpeer/PtyPeer.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korvane {
namespace {

TEST(PortsCommand, ListsMappedNumbersAndTheirDevices) {
    test::TempDir folder;
    padpeer::PtyPeer pad;
    pad.linkAs(folder.path(), 4);
    std::filesystem::create_symlink(folder.file("unplugged"), folder.file("com12"));
    std::filesystem::create_symlink(pad.slavePath(), folder.file("com04"));  // not a number the lookup uses

    test::ChildProcess::Options options;
    options.env = {{"KORVANE_DEVICE_DIR", folder.path()}};
    test::ChildProcess ports(KORVANE_LOAD_PATH, {"ports"}, options);
    ASSERT_EQ(ports.waitForExit(20000), 0) << ports.standardError();
    const std::string out = ports.standardOutput();
    EXPECT_NE(out.find("Device folder: " + folder.path() + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    4  com4 -> " + pad.slavePath() + "  (this user can open it)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("   12  com12 -> " + folder.file("unplugged") + "  (device missing)\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("com04"), std::string::npos) << out;
    EXPECT_NE(out.find("Serial devices without a port number:\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ln -s DEVICE " + folder.path() + "/comN"), std::string::npos) << out;
    EXPECT_LT(out.find("    4  com4"), out.find("   12  com12"));

    test::ChildProcess extra(KORVANE_LOAD_PATH, {"ports", "now"}, options);
    EXPECT_EQ(extra.waitForExit(20000), 2);
}

}  // namespace
}  // namespace korvane
