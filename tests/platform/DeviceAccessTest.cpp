#include "platform/DeviceAccess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace korvane {
namespace {

std::string groupOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    const struct group* entry = ::getgrgid(info.st_gid);
    return entry != nullptr ? entry->gr_name : std::to_string(info.st_gid);
}

std::string thisUser() {
    const passwd* user = ::getpwuid(::geteuid());
    return user != nullptr ? user->pw_name : std::to_string(::geteuid());
}

// A stand-in device node: a file given to the serial group, as udev gives
// /dev/ttyUSB0 to "dialout" on Debian (any group this process is not in will do).
class DeviceAccess : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("ttyUSB0", "", 0660);
        const struct group* dialout = ::getgrnam("dialout");
        if (dialout != nullptr && ::chown(device().c_str(), static_cast<uid_t>(-1), dialout->gr_gid) != 0) {
            // Not root: the file keeps this user's own group.
        }
        std::filesystem::create_symlink(device(), dir.file("com3"));
    }
    void TearDown() override {
        setDeviceRefusedForTesting(device(), 0);
        forgetDeviceOpenFailure();
    }
    std::string device() const { return dir.file("ttyUSB0"); }

    test::TempDir dir;
};

TEST_F(DeviceAccess, APermissionRefusalNamesTheDeviceTheReasonAndTheGroupToJoin) {
    const std::string group = groupOf(device());
    struct stat info {};
    ASSERT_EQ(::stat(device().c_str(), &info), 0);
    if (::getegid() == info.st_gid) GTEST_SKIP() << "this process is in the device's group";
    const DeviceAccessProblem problem = describeDeviceAccessProblem(dir.file("com3"), EACCES);
    EXPECT_EQ(problem.devicePath, dir.file("com3"));
    EXPECT_EQ(problem.device, device());
    EXPECT_EQ(problem.reason, "Permission denied");
    EXPECT_NE(problem.remedy.find("add user \"" + thisUser() + "\" to group \"" + group + "\""), std::string::npos)
        << problem.remedy;
    EXPECT_NE(problem.remedy.find("sudo usermod -aG " + group + " " + thisUser()), std::string::npos)
        << problem.remedy;
    EXPECT_NE(problem.remedy.find("\"dialout\" on Debian"), std::string::npos) << problem.remedy;

    const std::string text = deviceAccessProblemText(problem);
    EXPECT_EQ(text.rfind("cannot open " + dir.file("com3") + " -> " + device() + ": Permission denied\nremedy: ", 0),
              0u)
        << text;
}

TEST_F(DeviceAccess, EachKindOfFailureGetsItsOwnRemedy) {
    ::chmod(device().c_str(), 0600);
    const struct {
        int error;
        std::string remedyPart;
    } cases[] = {
        {EACCES, "mode 0600 gives its group"},  // the group may not use it: joining it would not help
        {ENOENT, "not there"},
        {EBUSY, "another program holds the device"},
        {EIO, ""},
    };
    for (const auto& c : cases) {
        const DeviceAccessProblem problem = describeDeviceAccessProblem(device(), c.error);
        EXPECT_EQ(problem.error, c.error);
        if (c.remedyPart.empty()) {
            EXPECT_EQ(problem.remedy, "") << problem.remedy;
            EXPECT_EQ(deviceAccessProblemText(problem).find("remedy"), std::string::npos);
        } else {
            EXPECT_NE(problem.remedy.find(c.remedyPart), std::string::npos) << c.error << ": " << problem.remedy;
        }
    }
}

TEST_F(DeviceAccess, TheTestRefusalStandsInForTheOperatingSystems) {
    EXPECT_EQ(deviceAccessError(dir.file("com3")), ::geteuid() == 0 ? 0 : deviceAccessError(device()));
    EXPECT_EQ(deviceAccessError(dir.file("missing")), ENOENT);

    setDeviceRefusedForTesting(device(), EACCES);
    // Through the link or directly: the device is the same.
    EXPECT_EQ(deviceAccessError(dir.file("com3")), EACCES);
    EXPECT_EQ(deviceAccessError(device()), EACCES);
    errno = 0;
    EXPECT_EQ(openDeviceNode(dir.file("com3"), O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);

    setDeviceRefusedForTesting(device(), 0);
    const int fd = openDeviceNode(dir.file("com3"), O_RDWR | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    if (fd >= 0) ::close(fd);
}

TEST_F(DeviceAccess, TheLastFailedOpenIsKeptPerThreadUntilTaken) {
    EXPECT_FALSE(takeDeviceOpenFailure());
    noteDeviceOpenFailure(describeDeviceAccessProblem(device(), EACCES));
    std::thread([] { EXPECT_FALSE(takeDeviceOpenFailure()) << "another thread's failure is not this one's"; }).join();
    const std::optional<DeviceAccessProblem> taken = takeDeviceOpenFailure();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->device, device());
    EXPECT_FALSE(takeDeviceOpenFailure()) << "taken once";
}

}  // namespace
}  // namespace korvane
