// The generator and the real tools, run as processes.

#include "payloads/Base64.h"
#include "payloads/PayloadCatalogue.h"
#include "tests/payloads/PadFileFormats.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace korvane {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const fs::path kCommitted = fs::path(KORVANE_SOURCE_DIR) / "payloads" / "generated";
const fs::path kSources = fs::path(KORVANE_SOURCE_DIR) / "payloads" / "sources";

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string onPath(const std::string& program) {
    std::stringstream directories(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':'))
        if (!directory.empty() && ::access((directory + "/" + program).c_str(), X_OK) == 0)
            return directory + "/" + program;
    return {};
}

int runGenerator(const std::vector<std::string>& arguments, std::string* errors = nullptr) {
    test::ChildProcess generator(KORVANE_PAYLOAD_GEN, arguments);
    const int status = generator.waitForExit(60000);
    if (errors) *errors = generator.standardError();
    return status;
}

// The constants of the generated sources, their string literals joined and unescaped.
std::map<std::string, std::string> generatedTexts(const fs::path& folder) {
    std::map<std::string, std::string> texts;
    for (const auto& file : fs::directory_iterator(folder)) {
        if (file.path().extension() != ".cpp") continue;
        std::istringstream lines(readWhole(file.path()));
        std::string line, name;
        const std::string lead = "const std::string_view ";
        while (std::getline(lines, line)) {
            if (line.starts_with(lead)) {
                name = line.substr(lead.size(), line.find(' ', lead.size()) - lead.size());
                continue;
            }
            if (name.empty() || !line.starts_with("    \"")) continue;
            const std::size_t end = line.rfind('"');
            std::string& text = texts[name];
            for (std::size_t i = 5; i < end; ++i) {
                if (line[i] != '\\') {
                    text += line[i];
                    continue;
                }
                const char c = line[++i];
                if (c == 'n') text += '\n';
                else if (c == 'r') text += '\r';
                else if (c == 't') text += '\t';
                else if (c >= '0' && c <= '7') {
                    text += char(std::stoi(line.substr(i, 3), nullptr, 8));
                    i += 2;
                } else text += c;
            }
            if (line.ends_with(";")) name.clear();
        }
    }
    return texts;
}

// What a pad file carries once every compression in it is taken off: gzip
// streams inflated, tar members opened, PNG images reduced to their rows.
Bytes unpacked(const Bytes& bytes) {
    static const std::string pngSignature = "\x89PNG\r\n\x1A\n";
    if (bytes.size() > 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) return unpacked(test::readGzip(bytes).data);
    if (std::string(bytes.begin(), bytes.begin() + long(std::min<std::size_t>(8, bytes.size()))) == pngSignature)
        return test::readPng(bytes).scanlines;
    if (bytes.size() >= 512 && std::string(bytes.begin() + 257, bytes.begin() + 262) == "ustar") {
        Bytes members;
        for (const auto& member : test::readTar(bytes)) {
            const Bytes content = unpacked(member.data);
            members.insert(members.end(), member.name.begin(), member.name.end());
            members.insert(members.end(), content.begin(), content.end());
        }
        return members;
    }
    return bytes;
}

TEST(PayloadGenerator, ReproducesTheCommittedFilesByteForByte) {
    test::TempDir output;
    std::string errors;
    ASSERT_EQ(runGenerator({"--sources", kSources.string(), "--output", output.path()}, &errors), 0) << errors;
    std::vector<std::string> made, committed;
    for (const auto& file : fs::directory_iterator(output.path())) made.push_back(file.path().filename().string());
    for (const auto& file : fs::directory_iterator(kCommitted)) committed.push_back(file.path().filename().string());
    std::sort(made.begin(), made.end());
    std::sort(committed.begin(), committed.end());
    ASSERT_EQ(made, committed);
    for (const std::string& name : made)
        EXPECT_TRUE(readWhole(fs::path(output.path()) / name) == readWhole(kCommitted / name))
            << name << " differs from the committed file: run korvane-payload-gen and commit its output";
}

TEST(PayloadGenerator, CommittedTextsAreTheOnesTheProgramCarries) {
    std::multiset<std::string> generated, carried;
    for (const auto& [name, text] : generatedTexts(kCommitted)) generated.insert(text);
    for (const EmbeddedPayload& payload : payloadCatalogue()) carried.insert(std::string(payload.text));
    EXPECT_EQ(generated.size(), payloadCatalogue().size());
    EXPECT_TRUE(generated == carried) << "the literal reader and the compiled texts disagree";
}

TEST(PayloadGenerator, StoredBlocksCarryTheSameContentAsCompression) {
    test::TempDir output;
    ASSERT_EQ(runGenerator({"--sources", kSources.string(), "--output", output.path(), "--stored"}), 0);
    const auto stored = generatedTexts(output.path());
    const auto compressed = generatedTexts(kCommitted);
    ASSERT_EQ(stored.size(), compressed.size());
    for (const auto& [name, text] : compressed) {
        SCOPED_TRACE(name);
        if (text.starts_with("<")) {
            EXPECT_EQ(stored.at(name), text);
            continue;
        }
        EXPECT_GT(stored.at(name).size(), text.size());
        const Bytes content = unpacked(decodeBase64(text));
        EXPECT_EQ(unpacked(decodeBase64(stored.at(name))), content);
    }
}

TEST(PayloadGenerator, RefusesMissingSourcesAndBadArguments) {
    test::TempDir empty;
    std::string errors;
    EXPECT_EQ(runGenerator({"--sources", empty.path(), "--output", empty.file("out")}, &errors), 1);
    EXPECT_NE(errors.find("cannot read"), std::string::npos) << errors;
    EXPECT_EQ(runGenerator({"--output", empty.path()}), 2);
    EXPECT_EQ(runGenerator({"--sources"}), 2);
}

// gzip and tar themselves accept every bundle and list its members.
TEST(PayloadGenerator, GzipAndTarAcceptTheBundles) {
    const std::string gzip = onPath("gzip"), tar = onPath("tar");
    ASSERT_FALSE(gzip.empty()) << "gzip not on PATH";
    ASSERT_FALSE(tar.empty()) << "tar not on PATH";
    test::TempDir folder;
    const struct {
        const char* description;
        const char* listing;
    } bundles[] = {
        {"custom prompt package", nullptr},
        {"signed prompt package", "8520590000_852059.d3s\n8520590000_852059.P3P.pkg\n"},
        {"Lane/3000 bundle", "PAY1EX.K3Z\n"},
        {"Link/2500 bundle", "PAY1EX.K3Z\n"},
        {"Lane/5000 bundle", "PAY1EX-D.PNG\nPAY1EX-U.PNG\nPAY1EX.K3Z\n"},
        {"Lane/7000 bundle", "PAY1EX-D.PNG\nPAY1EX-U.PNG\nPAY1EX.K3Z\n"},
        {"Lane/8000 bundle", "PAY1EX-D.PNG\nPAY1EX-U.PNG\nPAY1EX.K3Z\n"},
        {"Move/5000 bundle", "PAY1EX-D.PNG\nPAY1EX-U.PNG\nPAY1EX.K3Z\n"},
    };
    for (const auto& bundle : bundles) {
        SCOPED_TRACE(bundle.description);
        const EmbeddedPayload* payload = nullptr;
        for (const auto& candidate : payloadCatalogue())
            if (candidate.description == bundle.description) payload = &candidate;
        ASSERT_NE(payload, nullptr);
        folder.write("bundle.gz", std::string(payload->bytes.begin(), payload->bytes.end()));
        test::ChildProcess check(gzip, {"-t", folder.file("bundle.gz")});
        EXPECT_EQ(check.waitForExit(30000), 0) << check.standardError();
        if (!bundle.listing) continue;
        test::ChildProcess list(tar, {"-tzf", folder.file("bundle.gz")});
        EXPECT_EQ(list.waitForExit(30000), 0) << list.standardError();
        EXPECT_EQ(list.standardOutput(), bundle.listing);
    }

    // The signed package inside is a tar that tar reads too.
    folder.write("bundle.gz", std::string(signedPromptPackage().bytes.begin(), signedPromptPackage().bytes.end()));
    test::ChildProcess unpack(tar, {"-xzf", folder.file("bundle.gz"), "-C", folder.path()});
    ASSERT_EQ(unpack.waitForExit(30000), 0) << unpack.standardError();
    test::ChildProcess inner(tar, {"-tf", folder.file("8520590000_852059.P3P.pkg")});
    EXPECT_EQ(inner.waitForExit(30000), 0) << inner.standardError();
    EXPECT_EQ(inner.standardOutput(), "files.tar\nfiles.hash\ninfo.tar\ninfo.hash\n");
}

}  // namespace
}  // namespace korvane
