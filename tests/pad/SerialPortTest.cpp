#include "pad/SerialPort.h"

#include "pad/RbaLink.h"
#include "tests/pad/PadLine.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <sys/inotify.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace korvane {
namespace {

using test::PadLine;

std::string patternBytes(size_t count) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

TEST(SerialPortOpen, OutOfRangeNumbersAndBadDevicesFail) {
    test::TempDir folder;
    ::setenv(kDeviceFolderEnv, folder.path().c_str(), 1);
    folder.write("plain-file", "not a terminal");
    for (const char* entry : {"com0", "com256", "com1"})
        std::filesystem::create_symlink(folder.file("plain-file"), folder.file(entry));
    std::filesystem::create_symlink(folder.file("nothing-here"), folder.file("com2"));

    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(::inotify_add_watch(watcher, folder.file("plain-file").c_str(), IN_OPEN), 0);
    char events[4096];

    SerialPort port;
    EXPECT_FALSE(port.open(0, 115200, 'N', '8', '1', true));
    EXPECT_FALSE(port.open(256, 115200, 'N', '8', '1', true));
    EXPECT_LT(::read(watcher, events, sizeof(events)), 0) << "an out-of-range number opened a device";

    // The watch does see an open: com1 leads to the same file, which is no terminal.
    EXPECT_FALSE(port.open(1, 115200, 'N', '8', '1', true));
    EXPECT_GT(::read(watcher, events, sizeof(events)), 0);
    EXPECT_NE(port.lastError().find("not a terminal"), std::string::npos) << port.lastError();

    // A link to nothing fails; it does not fall back to /dev/ttyS1.
    EXPECT_FALSE(port.open(2, 115200, 'N', '8', '1', true));
    EXPECT_NE(port.lastError().find("nothing-here"), std::string::npos) << port.lastError();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.portNumber(), 0);
    ::close(watcher);
    ::unsetenv(kDeviceFolderEnv);
}

TEST(SerialPortOpen, RefusedSettingsLeaveNoPortOpen) {
    struct Case {
        int baud;
        char parity, dataBits, stopBits;
    };
    const Case refused[] = {
        {57600, 'N', '8', '1'}, {38400, 'N', '8', '1'}, {0, 'N', '8', '1'}, {115200, 'X', '8', '1'},
        {115200, 'N', '9', '1'}, {115200, 'N', '6', '1'}, {115200, 'N', '8', '0'}, {115200, 'N', '8', '3'},
    };
    PadLine line;
    for (const Case& c : refused) {
        SerialPort port;
        // Already open: the re-open closes first, and its failure leaves it closed.
        ASSERT_TRUE(line.openPort(port));
        EXPECT_FALSE(port.open(PadLine::kPortNumber, c.baud, c.parity, c.dataBits, c.stopBits, true)) << c.baud;
        EXPECT_FALSE(port.isOpen()) << c.baud << c.parity << c.dataBits << c.stopBits;
        SerialPort other;
        EXPECT_TRUE(line.openPort(other)) << "the refused open still holds the device";
    }
}

std::set<std::string> sttyWords(const PadLine& line) {
    const std::string stty = std::filesystem::exists("/usr/bin/stty") ? "/usr/bin/stty" : "/bin/stty";
    test::ChildProcess::Options options;
    std::vector<std::string> args{"-F", line.pad.slavePath(), "-a"};
    if (::geteuid() != 0) {
        // Exclusive use keeps stty from opening the device unless it runs as
        // root; it then reads the terminal the pad holds, on its standard input.
        const int held = line.pad.slaveDescriptor();
        options.beforeExec = [held] { ::dup2(held, 0); };
        args = {"-a"};
    }
    test::ChildProcess child(stty, args, options);
    EXPECT_EQ(child.waitForExit(10000), 0) << child.standardError();
    std::string text = child.standardOutput();
    for (char& c : text)
        if (c == ';' || c == '\n') c = ' ';
    std::istringstream words(text);
    std::set<std::string> found;
    for (std::string word; words >> word;) found.insert(word);
    // "speed 115200 baud" as one word.
    const size_t speed = text.find("speed ");
    if (speed != std::string::npos) found.insert(text.substr(speed, text.find(" baud", speed) - speed));
    return found;
}

TEST(SerialPortOpen, LineSettingsAreRawWithoutFlowControl) {
    struct Case {
        int baud;
        char parity, dataBits, stopBits;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        // A pseudo-terminal is always 8 bits without parity, whatever is asked
        // (real UARTs take CS7 and PARENB); the odd-parity flag does show.
        {115200, 'N', '8', '1', {"speed 115200", "cs8", "-parenb", "-cstopb", "-parodd"}},
        {9600, 'e', '7', '2', {"speed 9600", "cstopb", "-parodd"}},
        {300, 'O', '8', '1', {"speed 300", "parodd", "-cstopb"}},
        {19200, 'E', '8', '2', {"speed 19200", "-parodd", "cstopb"}},
    };
    const std::vector<std::string> always = {"-crtscts", "-ixon", "-ixoff", "-icanon", "-echo", "-isig",
                                             "-opost", "-icrnl", "-inpck", "clocal", "cread", "hupcl"};
    PadLine line;
    for (const Case& c : cases) {
        // Start from the opposite of what is wanted, so every setting must be made.
        termios before{};
        ASSERT_EQ(::tcgetattr(line.pad.slaveDescriptor(), &before), 0);
        before.c_cflag |= CRTSCTS | PARODD | CSTOPB;
        before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL | HUPCL);
        before.c_iflag |= IXON | IXOFF | ICRNL | INPCK;
        before.c_lflag |= ICANON | ECHO | ISIG;
        ASSERT_EQ(::tcsetattr(line.pad.slaveDescriptor(), TCSANOW, &before), 0);

        SerialPort port;
        ASSERT_TRUE(port.open(PadLine::kPortNumber, c.baud, c.parity, c.dataBits, c.stopBits, true))
            << port.lastError();
        const std::set<std::string> words = sttyWords(line);
        for (const std::string& word : c.expected) EXPECT_TRUE(words.count(word)) << c.baud << ": " << word;
        for (const std::string& word : always) EXPECT_TRUE(words.count(word)) << c.baud << ": " << word;
    }
}

TEST(SerialPortOpen, OneHolderAtATime) {
    PadLine line;
    line.pad.linkAs(line.folder.path(), 2);  // a second number for the same device
    SerialPort first;
    SerialPort second;
    EXPECT_TRUE(first.close()) << "closing a closed port is no failure";
    ASSERT_TRUE(line.openPort(first));
    EXPECT_TRUE(first.isOpen());
    EXPECT_EQ(first.portNumber(), PadLine::kPortNumber);
    EXPECT_FALSE(line.openPort(second));
    EXPECT_FALSE(second.open(2, 115200, 'N', '8', '1', true));
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(second.portNumber(), 0);

    EXPECT_TRUE(first.close());
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(second.open(2, 115200, 'N', '8', '1', true)) << second.lastError();
    EXPECT_EQ(second.portNumber(), 2);
}

TEST(SerialPortIo, WritesReachThePad) {
    PadLine line;
    SerialPort port;
    EXPECT_EQ(port.writeString("07.", 1000), SerialPort::kStatusIoError) << "closed port";
    ASSERT_TRUE(line.openPort(port));

    EXPECT_EQ(port.writeBytes("x", 0, 1000), SerialPort::kStatusDone);
    EXPECT_EQ(port.writeString("", 1000), SerialPort::kStatusDone);
    EXPECT_EQ(port.writeString("07.", 1000), SerialPort::kStatusDone);
    EXPECT_EQ(port.sendAck(), SerialPort::kStatusDone);
    EXPECT_EQ(port.sendNak(), SerialPort::kStatusDone);
    EXPECT_EQ(port.sendByte('\xC1'), SerialPort::kStatusDone);
    EXPECT_EQ(line.pad.read(6, 5000), "07.\x06\x15\xC1");

    // Larger than the kernel's buffers: written as the pad reads.
    const std::string block = patternBytes(65535);
    std::string atPad;
    std::thread reader([&] { atPad = line.pad.read(block.size(), 20000); });
    EXPECT_EQ(port.writeBytes(block.data(), block.size(), 15000), SerialPort::kStatusDone);
    reader.join();
    EXPECT_EQ(atPad, block);

    // A pad that reads nothing: the write gives up at its time-out.
    const std::string tooMuch = patternBytes(65536);
    EXPECT_EQ(port.writeBytes(tooMuch.data(), tooMuch.size(), 300), SerialPort::kStatusTimeout);
}

TEST(SerialPortIo, ReadsTakeWhatIsQueued) {
    PadLine line;
    SerialPort port;
    EXPECT_EQ(port.readAvailable(SerialPort::kNoMaximum), 0u) << "closed port";
    EXPECT_EQ(port.bytesAvailable(), 0u);
    ASSERT_TRUE(line.openPort(port));
    EXPECT_EQ(port.readAvailable(SerialPort::kNoMaximum), 0u);
    EXPECT_EQ(port.readByte(), 0);

    const std::string sent = patternBytes(1500);
    ASSERT_TRUE(line.pad.write(sent));
    ASSERT_TRUE(test::waitUntil([&] { return port.bytesAvailable() == 1500; }, 5000));

    EXPECT_EQ(port.readAvailable(0), 0u);
    ASSERT_EQ(port.readAvailable(1), 1u);
    EXPECT_EQ(port.readBuffer()[0], sent[0]);
    ASSERT_EQ(port.readAvailable(SerialPort::kNoMaximum), 1023u);
    EXPECT_EQ(std::string(port.readBuffer(), 1023), sent.substr(1, 1023));
    ASSERT_EQ(port.readByte(), 1);
    EXPECT_EQ(port.readBuffer()[0], sent[1024]);
    ASSERT_EQ(port.readAvailable(600), 475u);
    EXPECT_EQ(std::string(port.readBuffer(), 475), sent.substr(1025));
    EXPECT_EQ(port.bytesAvailable(), 0u);

    ASSERT_TRUE(line.pad.write("stale"));
    ASSERT_TRUE(test::waitUntil([&] { return port.bytesAvailable() == 5; }, 5000));
    port.purgeInput();
    EXPECT_EQ(port.bytesAvailable(), 0u);
}

TEST(SerialPortIo, UnpluggedDeviceGivesIoErrors) {
    PadLine line;
    SerialPort port;
    ASSERT_TRUE(line.openPort(port));
    RbaLink link(port);

    // Half a frame, then the cable goes, while the loader waits for the rest.
    ASSERT_TRUE(line.pad.write("\x02" "07.12"));
    ASSERT_TRUE(test::waitUntil([&] { return port.bytesAvailable() == 6; }, 5000));
    std::thread pad([&] {
        test::waitUntil([&] { return line.queuedForLoader() == 0; }, 5000);
        line.pad.unplug();
    });
    std::string reply;
    // A time-out result (5) would mean the loss went unnoticed.
    EXPECT_EQ(link.receiveFrame(reply, 60000), kLinkFailed);
    pad.join();
    EXPECT_EQ(reply, "\x02" "07.12");
    EXPECT_TRUE(port.deviceLost());

    EXPECT_EQ(port.writeString("07.", 60000), SerialPort::kStatusIoError);
    EXPECT_EQ(port.bytesAvailable(), 0u);
    EXPECT_EQ(port.readAvailable(SerialPort::kNoMaximum), 0u);
    EXPECT_EQ(link.waitAck(60000), kLinkFailed);
    EXPECT_FALSE(link.awaitFrame(60000));
    EXPECT_EQ(port.exchange(buildFrame("07."), reply, 60000, 60000), SerialPort::kStatusIoError);
    EXPECT_TRUE(port.close());
    EXPECT_FALSE(line.openPort(port));
}

}  // namespace
}  // namespace korvane
