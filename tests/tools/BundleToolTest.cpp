#include "pad/Bundle.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {
namespace {

using namespace std::string_literals;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun bundleTool(const std::vector<std::string>& args, const test::ChildProcess::Options& options = {}) {
    test::ChildProcess tool(KORVANE_BUNDLE_PATH, args, options);
    const int status = tool.waitForExit(30000);
    return {status, tool.standardOutput(), tool.standardError()};
}

std::string everyByte(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 % 256);
    return bytes;
}

std::string padded(const std::string& name) { return name + std::string(40 - name.size(), ' '); }

ByteArray bytesOf(const std::string& text) { return ByteArray(text.begin(), text.end()); }

TEST(BundleTool, PacksAFolderWithAPackingListListsAndUnpacksItByteForByte) {
    test::TempDir work;
    std::filesystem::create_directories(work.file("in/sub"));
    const std::string big = everyByte(65001);
    work.write("in/ZETA.BIN", big);
    work.write("in/A.EMPTY", "");
    work.write("in/B.TXT", "text\r\n");
    work.write("in/sub/ignored", "x");

    const ToolRun pack = bundleTool({"pack", work.file("in"), "-o", work.file("out.bdl")});
    ASSERT_EQ(pack.status, 0) << pack.err;
    const std::string list = "B.TXT\nZETA.BIN\nA.EMPTY\n";
    EXPECT_EQ(pack.out, work.file("out.bdl") + ": 4 entries, " + std::to_string(4 * 48 + list.size() + 6 + 65001) +
                            " bytes (packing list made from the folder)\n");
    EXPECT_EQ(pack.err, "skipped \"sub\": not a regular file\n");

    // The layout itself: the packing list first, by name with the empty file last; then the files by name.
    const std::string expected = "00000063" + padded("PACKINGLIST") + list + "00000040" + padded("A.EMPTY") +
                                 "00000046" + padded("B.TXT") + "text\r\n" + "00065041" + padded("ZETA.BIN") + big;
    const std::string packed = work.read("out.bdl");
    EXPECT_TRUE(packed == expected) << "the first bytes: " << packed.substr(0, 200);

    const ToolRun listing = bundleTool({"list", work.file("out.bdl")});
    ASSERT_EQ(listing.status, 0) << listing.err;
    EXPECT_EQ(listing.out, "A.EMPTY\t0\nB.TXT\t6\nPACKINGLIST\t23\nZETA.BIN\t65001\n");

    const ToolRun unpack = bundleTool({"unpack", work.file("out.bdl"), work.file("back/new")});
    ASSERT_EQ(unpack.status, 0) << unpack.err;
    EXPECT_EQ(unpack.out, work.file("back/new") + ": 4 files\n");
    EXPECT_TRUE(work.read("back/new/ZETA.BIN") == big);
    EXPECT_EQ(work.read("back/new/B.TXT"), "text\r\n");
    EXPECT_EQ(work.read("back/new/PACKINGLIST"), list);
    EXPECT_TRUE(work.exists("back/new/A.EMPTY"));
    EXPECT_EQ(work.read("back/new/A.EMPTY"), "");

    // Existing files are kept unless --replace.
    work.write("back/new/B.TXT", "mine");
    const ToolRun again = bundleTool({"unpack", work.file("out.bdl"), work.file("back/new")});
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find(work.file("back/new/B.TXT") + " exists already (--replace overwrites it)"),
              std::string::npos)
        << again.err;
    EXPECT_EQ(work.read("back/new/B.TXT"), "mine") << "nothing written";
    EXPECT_EQ(bundleTool({"unpack", work.file("out.bdl"), work.file("back/new"), "--replace"}).status, 0);
    EXPECT_EQ(work.read("back/new/B.TXT"), "text\r\n");

    // The loader's reader takes the bundle as packed.
    BundleEntries entries;
    ASSERT_TRUE(readBundle(bytesOf(packed), entries));
    EXPECT_EQ(entries.size(), 4u);
}

TEST(BundleTool, KeepsTheFoldersOwnPackingListAndChecksIt) {
    const struct {
        const char* what;
        std::string list;
        std::vector<std::string> problems;  // empty: packed
    } cases[] = {
        {"its own order, CR LF and a blank line", "Z.BIN\r\nA.BIN\r\n\r\nE.DAT\r\n", {}},
        {"a name missing", "Z.BIN\nA.BIN\nE.DAT\nX.BIN\n", {"the packing list names \"X.BIN\", which is not in the bundle"}},
        {"a name twice", "Z.BIN\nA.BIN\nZ.BIN\nE.DAT\n", {"the packing list names \"Z.BIN\" twice"}},
        {"a file left out", "Z.BIN\nE.DAT\n", {"\"A.BIN\" is not in the packing list"}},
        {"the empty file not last", "E.DAT\nZ.BIN\nA.BIN\n",
         {"\"E.DAT\" is empty but not the packing list's last name: the loader sends nothing for an empty file, "
          "so only the last one may be empty"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir work;
        std::filesystem::create_directories(work.file("in"));
        work.write("in/Z.BIN", "z");
        work.write("in/A.BIN", "a");
        work.write("in/E.DAT", "");
        work.write("in/PACKINGLIST", c.list);
        const ToolRun pack = bundleTool({"pack", work.file("in"), "-o", work.file("out.bdl")});
        if (c.problems.empty()) {
            ASSERT_EQ(pack.status, 0) << pack.err;
            EXPECT_EQ(work.read("out.bdl").substr(0, 48 + c.list.size()),
                      "000000" + std::to_string(40 + c.list.size()) + padded("PACKINGLIST") + c.list);
            continue;
        }
        EXPECT_EQ(pack.status, 1);
        for (const std::string& problem : c.problems)
            EXPECT_NE(pack.err.find(problem + "\n"), std::string::npos) << pack.err;
        EXPECT_FALSE(work.exists("out.bdl"));
        // --no-check packs it even so, for tests of the loader.
        EXPECT_EQ(bundleTool({"pack", work.file("in"), "-o", work.file("out.bdl"), "--no-check"}).status, 0);
        EXPECT_TRUE(work.exists("out.bdl"));
    }
}

TEST(BundleTool, ClearErrorsAndExitStatus) {
    test::TempDir work;
    std::filesystem::create_directories(work.file("long"));
    work.write("long/" + std::string(41, 'L'), "x");
    std::filesystem::create_directories(work.file("twoempty"));
    work.write("twoempty/A", "");
    work.write("twoempty/B", "");
    std::filesystem::create_directories(work.file("trailing"));
    work.write("trailing/NAME ", "x");
    ByteArray unsafe;
    appendBundleEntry(unsafe, "../escape", bytesOf("x"));
    appendBundleEntry(unsafe, "ok", bytesOf("y"));
    work.write("unsafe.bdl", std::string(unsafe.begin(), unsafe.end()));
    work.write("cut.bdl", "00000045" + padded("A") + "abc");
    work.write("empty.bdl", "");
    work.write("letters.bdl", "0000004x" + padded("A"));

    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;  // a line of standard error
    } cases[] = {
        {{"pack", work.file("long"), "-o", work.file("x.bdl")}, 1,
         "\"" + std::string(41, 'L') + "\": a name of 41 bytes; an entry's name holds at most 40"},
        {{"pack", work.file("twoempty"), "-o", work.file("x.bdl")}, 1,
         "\"A\" is empty but not the packing list's last name"},
        {{"pack", work.file("trailing"), "-o", work.file("x.bdl")}, 1,
         "\"NAME \": white space at the end of the name, which is lost when the bundle is read"},
        {{"pack", work.file("missing"), "-o", work.file("x.bdl")}, 1, work.file("missing") + ": not a folder"},
        {{"pack", work.file("long"), "-o", work.file("no/such/folder.bdl"), "--no-check"}, 1, ""},
        {{"list", work.file("cut.bdl")}, 1,
         work.file("cut.bdl") + ": does not read as a bundle (empty, cut short inside an entry, or without any entry)"},
        {{"list", work.file("empty.bdl")}, 1, work.file("empty.bdl") + ": does not read as a bundle"},
        {{"unpack", work.file("cut.bdl"), work.file("out")}, 1, ": does not read as a bundle"},
        {{"list", work.file("nothing.bdl")}, 1, work.file("nothing.bdl") + ": cannot be read (No such file or directory)"},
        {{"unpack", work.file("unsafe.bdl"), work.file("out")}, 1, "entry \"../escape\": not a plain file name"},
        {{}, 2, "korvane-bundle: a command is needed"},
        {{"shrink"}, 2, "korvane-bundle: unknown command \"shrink\""},
        {{"pack", work.file("long")}, 2, "korvane-bundle: pack takes a folder and -o FILE"},
        {{"pack", work.file("long"), "-o"}, 2, "korvane-bundle: -o needs a file"},
        {{"list"}, 2, "korvane-bundle: list takes one bundle file"},
        {{"unpack", work.file("cut.bdl")}, 2, "korvane-bundle: unpack takes a bundle file and a folder"},
        {{"list", work.file("cut.bdl"), "--replace"}, 2, "korvane-bundle: unknown option \"--replace\" for list"},
    };
    for (const auto& c : cases) {
        const ToolRun run = bundleTool(c.args);
        const std::string shown = c.args.empty() ? "(none)" : c.args[0] + " " + c.args.back();
        EXPECT_EQ(run.status, c.status) << shown << "\n" << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << shown << "\n" << run.err;
        if (c.status == 2) {
            EXPECT_NE(run.err.find("Usage: korvane-bundle"), std::string::npos) << shown;
        }
    }
    // "letters": leading digits only, so the length is 4: a name-only entry "0000"... cut short here.
    EXPECT_EQ(bundleTool({"list", work.file("letters.bdl")}).status, 1);
    EXPECT_FALSE(work.exists("out")) << "nothing unpacked from a refused bundle";
    EXPECT_FALSE(work.exists("x.bdl"));

    const ToolRun help = bundleTool({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: korvane-bundle pack DIR -o FILE"), std::string::npos);
}

TEST(BundleTool, AnUnreadableFileStopsThePack) {
    test::TempDir work;
    ::chmod(work.path().c_str(), 0777);
    std::filesystem::create_directories(work.file("in"));
    ::chmod(work.file("in").c_str(), 0777);
    work.write("in/OPEN.TXT", "a", 0644);
    work.write("in/SHUT.TXT", "b", 0000);
    // As an unprivileged user, for whom mode 000 means something even when the test runs as root.
    test::ChildProcess::Options options;
    options.beforeExec = [] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
    };
    const ToolRun pack = bundleTool({"pack", work.file("in"), "-o", work.file("out.bdl")}, options);
    EXPECT_EQ(pack.status, 1) << pack.err;
    EXPECT_EQ(pack.err, work.file("in/SHUT.TXT") + ": cannot be read (Permission denied)\n");
    EXPECT_FALSE(work.exists("out.bdl"));
}

}  // namespace
}  // namespace korvane
