#include "platform/WorkingFiles.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

namespace fs = std::filesystem;

class WorkingFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = fs::current_path();
        fs::current_path(folder_.path());
    }
    void TearDown() override { fs::current_path(saved_); }

    static mode_t modeOf(const std::string& name) {
        struct stat info {};
        return ::lstat(name.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    test::TempDir folder_;
    fs::path saved_;
};

TEST_F(WorkingFilesTest, NewFileIsPrivateAndWhole) {
    const std::vector<uint8_t> data = {0, 1, 2, 0xff, 0};
    std::string error;
    ASSERT_TRUE(writePrivateFile("A.BIN", data, error)) << error;
    EXPECT_EQ(modeOf("A.BIN"), 0600u);
    EXPECT_EQ(folder_.read("A.BIN"), std::string("\0\1\2\xff\0", 5));
    ASSERT_TRUE(writePrivateFile("EMPTY", {}, error));
    EXPECT_EQ(folder_.read("EMPTY"), "");
}

// What stands in the name's place goes first; its mode and contents are not kept.
TEST_F(WorkingFilesTest, AnExistingFileOrLinkIsReplaced) {
    folder_.write("OLD.DLD", "old and longer contents", 0644);
    ASSERT_EQ(::symlink("/etc/hostname", "LINK.DLD"), 0);
    const std::vector<uint8_t> data = {'n', 'e', 'w'};
    std::string error;
    ASSERT_TRUE(writePrivateFile("OLD.DLD", data, error)) << error;
    ASSERT_TRUE(writePrivateFile("LINK.DLD", data, error)) << error;
    for (const char* name : {"OLD.DLD", "LINK.DLD"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(modeOf(name), 0600u);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
        EXPECT_EQ(folder_.read(name), "new");
    }
}

TEST_F(WorkingFilesTest, RefusedNamesAndFailedCreation) {
    ASSERT_EQ(::mkdir("A.DIR", 0700), 0);
    const struct Case {
        const char* name;
        const char* error;
    } cases[] = {
        {"A.DIR", "Is a directory"},
        {"../OUT.BIN", "The name is not a plain file name."},
        {"/tmp/OUT.BIN", "The name is not a plain file name."},
        {"", "The name is not a plain file name."},
        {"..", "The name is not a plain file name."},
        {"NO/SUCH", "The name is not a plain file name."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(writePrivateFile(c.name, std::vector<uint8_t>{1}, error));
        EXPECT_EQ(error, c.error);
    }
    EXPECT_FALSE(fs::exists(fs::path(folder_.path()).parent_path() / "OUT.BIN"));
}

TEST_F(WorkingFilesTest, RemoveFileIgnoresWhatIsNotThere) {
    folder_.write("GONE", "x");
    EXPECT_TRUE(removeFile("GONE"));
    EXPECT_FALSE(folder_.exists("GONE"));
    EXPECT_TRUE(removeFile("GONE"));
}

TEST_F(WorkingFilesTest, ReadWholeFileTakesEveryByte) {
    const std::string bytes = std::string("\0\x1c", 2) + std::string(200000, '\xfe');
    folder_.write("KVP.pkg", bytes);
    std::vector<uint8_t> data = {9};
    std::string error;
    ASSERT_TRUE(readWholeFile("KVP.pkg", data, error)) << error;
    EXPECT_TRUE(std::string(data.begin(), data.end()) == bytes);
    EXPECT_TRUE(fileExists("KVP.pkg"));
    EXPECT_FALSE(fileExists("NONE.pkg"));
    EXPECT_FALSE(readWholeFile("NONE.pkg", data, error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_TRUE(data.empty());
}

}  // namespace
}  // namespace korvane
