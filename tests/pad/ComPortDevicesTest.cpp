#include "platform/ComPortDevices.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace korvane {
namespace {

// Sets or unsets environment variables for one scope.
class Environment {
public:
    void set(const char* name, std::optional<std::string> value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~Environment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else ::unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(ComPortDevices, DeviceFolderLookup) {
    struct Case {
        std::optional<std::string> deviceDir, configHome, home;
        std::string folder;
    };
    const Case cases[] = {
        {"/a/devices", "/b", "/c", "/a/devices"},
        {"", "/b", "/c", "/b/korvane-field-loader/devices"},
        {std::nullopt, "", "/c", "/c/.config/korvane-field-loader/devices"},
        {std::nullopt, std::nullopt, "/c", "/c/.config/korvane-field-loader/devices"},
    };
    for (const Case& c : cases) {
        Environment env;
        env.set(kDeviceFolderEnv, c.deviceDir);
        env.set("XDG_CONFIG_HOME", c.configHome);
        env.set("HOME", c.home);
        EXPECT_EQ(comPortDeviceFolder(), c.folder);
    }
}

TEST(ComPortDevices, NumbersMapThroughTheFolder) {
    test::TempDir folder;
    Environment env;
    env.set(kDeviceFolderEnv, folder.path());
    folder.write("device", "");
    std::filesystem::create_symlink(folder.file("device"), folder.file("com3"));
    std::filesystem::create_symlink("/nowhere/at/all", folder.file("com255"));
    for (const char* ignored : {"com0", "com256", "com07", "comX", "COM4", "com4.bak"})
        std::filesystem::create_symlink(folder.file("device"), folder.file(ignored));

    EXPECT_EQ(comPortDevicePath(3), folder.file("com3"));
    EXPECT_EQ(comPortDevicePath(255), folder.file("com255"));
    EXPECT_EQ(comPortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(comPortDevicePath(7), "/dev/ttyS6");
    EXPECT_EQ(comPortDevicePath(0), "");
    EXPECT_EQ(comPortDevicePath(256), "");

    const std::vector<ComPortMapping> mapped = mappedComPorts();
    ASSERT_EQ(mapped.size(), 2u);
    EXPECT_EQ(mapped[0].portNumber, 3);
    EXPECT_EQ(mapped[0].target, folder.file("device"));
    EXPECT_EQ(mapped[0].resolvedPath, std::filesystem::canonical(folder.file("device")).string());
    EXPECT_EQ(mapped[1].portNumber, 255);
    EXPECT_EQ(mapped[1].target, "/nowhere/at/all");
    EXPECT_EQ(mapped[1].resolvedPath, "");

    for (const std::string& device : presentSerialDevices()) EXPECT_EQ(device.rfind("/dev/tty", 0), 0u) << device;
}

}  // namespace
}  // namespace korvane
