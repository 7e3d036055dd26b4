#include "app/cli/StderrTrace.h"
#include "pad/LinkTrace.h"
#include "pad/SerialPort.h"

#include "tests/pad/PadLine.h"
#include "tests/support/ChildProcess.h"
#include "tools/padpeer/PadPeer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <regex>
#include <unistd.h>

namespace korvane {
namespace {

using namespace std::string_literals;

std::mutex recordLock;
std::vector<std::pair<LinkTraceEvent, std::string>> recorded;

void record(LinkTraceEvent event, const char* bytes, size_t length) {
    std::lock_guard<std::mutex> guard(recordLock);
    recorded.emplace_back(event, std::string(bytes, length));
}

// All bytes of one kind, in order, however the reads and writes split them.
std::string joined(LinkTraceEvent event) {
    std::lock_guard<std::mutex> guard(recordLock);
    std::string all;
    for (const auto& [kind, bytes] : recorded)
        if (kind == event) all += bytes;
    return all;
}

TEST(LinkTrace, SeesEveryByteOnTheLink) {
    test::PadLine line;
    SerialPort port;
    ASSERT_TRUE(line.openPort(port));
    padpeer::PadPeer pad(line.pad, [](const std::string&) { return std::vector<std::string>{"07.ok"}; });

    ASSERT_TRUE(line.pad.write("junk"));
    ASSERT_TRUE(test::waitUntil([&] { return port.bytesAvailable() == 4; }, 5000));
    setLinkTraceHook(&record);
    pad.start();
    std::string reply;
    const int result = port.exchange(buildFrame("07."), reply, 2000, 2000);
    setLinkTraceHook(nullptr);
    ASSERT_EQ(result, SerialPort::kStatusDone);
    // Off again: nothing more is recorded.
    port.writeString("unseen", 1000);
    pad.stop();

    EXPECT_EQ(joined(LinkTraceEvent::discarded), "junk");
    EXPECT_EQ(joined(LinkTraceEvent::sent), buildFrame("07.") + "\x06");
    EXPECT_EQ(joined(LinkTraceEvent::received), "\x06"s + padpeer::frameOf("07.ok"));
}

TEST(LinkTrace, StderrLines) {
    EXPECT_EQ(formatTraceLine(1042, LinkTraceEvent::sent, "\x02" "07.\x03*", 6), "   1042 ms -> [SX]07.[EX]*\n");
    EXPECT_EQ(formatTraceLine(0, LinkTraceEvent::received, "\x06\xFF", 2), "      0 ms <- [AK][ff]\n");
    EXPECT_EQ(formatTraceLine(7, LinkTraceEvent::discarded, "x", 1), "      7 ms <- discarded x\n");

    // installStderrTrace writes them to standard error.
    test::PadLine line;
    SerialPort port;
    ASSERT_TRUE(line.openPort(port));
    test::TempDir dir;
    std::fflush(stderr);
    const int savedStderr = ::dup(2);
    std::FILE* capture = std::fopen(dir.file("stderr").c_str(), "w");
    ::dup2(::fileno(capture), 2);
    installStderrTrace();
    port.writeString("\x02" "07.\x03*", 1000);
    setLinkTraceHook(nullptr);
    std::fflush(stderr);
    ::dup2(savedStderr, 2);
    ::close(savedStderr);
    std::fclose(capture);
    EXPECT_TRUE(std::regex_match(dir.read("stderr"), std::regex(" *[0-9]+ ms -> \\[SX\\]07\\.\\[EX\\]\\*\n")))
        << dir.read("stderr");
}

}  // namespace
}  // namespace korvane
