// The Windows platform layer: process runs, hidden working files, the named
// mutex, file replacement, COM port names, console input and configuration.
#include "platform/ComPortDevices.h"
#include "platform/ConsoleInput.h"
#include "platform/DeviceAccess.h"
#include "platform/FileReplace.h"
#include "platform/InstallationConfig.h"
#include "platform/InstanceLock.h"
#include "platform/ProcessRun.h"
#include "platform/TerminationSignal.h"
#include "platform/Tick.h"
#include "platform/WorkingFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <io.h>
#include <sstream>
#include <thread>
#include <windows.h>

namespace korvane {
namespace {

// A fresh folder under %TEMP%, made the working directory for the test.
class InTemporaryFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char base[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof base, base), 0u);
        folder_ = std::string(base) + "korvane-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << GetLastError();
        char current[MAX_PATH];
        GetCurrentDirectoryA(sizeof current, current);
        previous_ = current;
        ASSERT_TRUE(SetCurrentDirectoryA(folder_.c_str()));
    }
    void TearDown() override {
        SetCurrentDirectoryA(previous_.c_str());
        for (const std::string& name : namesInFolder()) {
            const std::string path = folder_ + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
        RemoveDirectoryA(folder_.c_str());
    }

    std::vector<std::string> namesInFolder() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found{};
        const HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }

    static std::string contentOf(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The child program lies beside this test; CreateProcess finds a bare
    // name in the starting program's folder first.
    static std::string childPath() {
        char self[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
        std::string path(self, length);
        return path.substr(0, path.find_last_of('\\') + 1) + KORVANE_WIN32_CHILD;
    }

    std::string folder_;
    std::string previous_;
};

using ProcessRunWin32 = InTemporaryFolder;

TEST_F(ProcessRunWin32, ExitCodeAndArgumentsComeThrough) {
    const ProcessRun exited = runProgram({KORVANE_WIN32_CHILD, "exit", "7"}, 60000);
    ASSERT_TRUE(exited.started) << exited.error;
    EXPECT_FALSE(exited.timedOut);
    EXPECT_EQ(exited.exitCode, 7);

    // The arguments as the download program's command line carries them,
    // and ones that need quoting when the line is joined again.
    const std::vector<std::string> arguments = {"-p7", "-b115200", "-k7", "-fEvoload USB.dld", "",
                                                "say \"hi\"", "C:\\dir with space\\"};
    std::vector<std::string> command = {childPath(), "args", folder_ + "\\args.txt"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const ProcessRun listed = runProgram(command, 60000);
    ASSERT_TRUE(listed.started) << listed.error;
    EXPECT_EQ(listed.exitCode, 0);
    std::string expected;
    for (const std::string& argument : arguments) expected += argument + "\n";
    EXPECT_EQ(contentOf("args.txt"), expected);
}

TEST_F(ProcessRunWin32, ProgramPastItsLimitIsTerminated) {
    const std::string mutexName = "KorvaneRunChild" + std::to_string(GetCurrentProcessId());
    bool seenRunning = false;
    ProcessRun run;
    std::thread runner([&] { run = runProgram({KORVANE_WIN32_CHILD, "hang", mutexName}, 10000); });
    // The child holds its mutex while it runs.
    const uint32_t start = tickCount();
    while (!seenRunning && elapsedSince(start) < 10000) {
        if (const HANDLE held = OpenMutexA(SYNCHRONIZE, FALSE, mutexName.c_str())) {
            CloseHandle(held);
            seenRunning = true;
        } else {
            sleepMs(5);
        }
    }
    runner.join();
    EXPECT_TRUE(seenRunning) << "the child never got going within its limit";
    ASSERT_TRUE(run.started) << run.error;
    EXPECT_TRUE(run.timedOut);
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_GE(run.elapsedMs, 10000u);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, mutexName.c_str()), nullptr) << "the child still runs";
}

TEST_F(ProcessRunWin32, MissingProgramIsNotStarted) {
    const ProcessRun run = runProgram({"korvane-no-such-program-anywhere.exe", "-p1"}, 1000);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.error.rfind("korvane-no-such-program-anywhere.exe: ", 0), 0u) << run.error;
    EXPECT_NE(run.error.find("(error 2)"), std::string::npos) << run.error;
    EXPECT_FALSE(runProgram({}, 1000).started);
}

using WorkingFilesWin32 = InTemporaryFolder;

TEST_F(WorkingFilesWin32, PrivateFilesAreHiddenAndCanBeReplacedAndRemoved) {
    const std::vector<uint8_t> data = {0, 1, 2, 0x0A, 0x0D, 0x1A, 0xFF};
    std::string error;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(writePrivateFile("EVOLOADUSB.DLD", data, error)) << error;
        const DWORD attributes = GetFileAttributesA("EVOLOADUSB.DLD");
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        std::vector<uint8_t> back;
        ASSERT_TRUE(readWholeFile("EVOLOADUSB.DLD", back, error)) << error;
        EXPECT_EQ(back, data);
    }
    EXPECT_TRUE(fileExists("EVOLOADUSB.DLD"));
    EXPECT_TRUE(removeFile("EVOLOADUSB.DLD"));
    EXPECT_FALSE(fileExists("EVOLOADUSB.DLD"));
    EXPECT_TRUE(removeFile("EVOLOADUSB.DLD")) << "gone counts as removed";
    std::vector<uint8_t> none;
    EXPECT_FALSE(readWholeFile("EVOLOADUSB.DLD", none, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(WorkingFilesWin32, NamesThatLeaveTheFolderAreRefused) {
    for (const char* name : {"", ".", "..", "a/b", "a\\b", "C:x", "..\\up"}) {
        std::string error;
        EXPECT_FALSE(isPlainFileName(name)) << name;
        EXPECT_FALSE(writePrivateFile(name, std::vector<uint8_t>{1}, error)) << name;
    }
    EXPECT_TRUE(isPlainFileName("2_DL.VOS2-ENGAGE-CXPI+CONFIG.TGZ"));
    EXPECT_TRUE(namesInFolder().empty());
}

using FileReplaceWin32 = InTemporaryFolder;

TEST_F(FileReplaceWin32, ReplacesWholeAndLeavesNoTemporaryFile) {
    const std::string path = folder_ + "\\settings.dat";
    ASSERT_TRUE(replaceFile(path, "first", 0644));
    EXPECT_EQ(contentOf(path), "first");
    ASSERT_TRUE(replaceFile(path, std::string("second\0binary", 13), 0644));
    EXPECT_EQ(contentOf(path), std::string("second\0binary", 13));
    EXPECT_EQ(namesInFolder(), std::vector<std::string>{"settings.dat"});
    EXPECT_FALSE(replaceFile(folder_ + "\\no-such-folder\\x.dat", "x", 0644));
}

TEST(InstanceLockWin32, SecondHolderIsRefusedUntilTheFirstReleases) {
    EXPECT_EQ(InstanceLock::lockFilePath(), "KorvaneOlbrekFieldLoaderMutex");
    InstanceLock first;
    InstanceLock second;
    ASSERT_TRUE(first.acquire());
    EXPECT_TRUE(first.held());
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.held());
    const HANDLE seen = OpenMutexA(SYNCHRONIZE, FALSE, "KorvaneOlbrekFieldLoaderMutex");
    EXPECT_NE(seen, nullptr) << "the lock is the named mutex";
    if (seen != nullptr) CloseHandle(seen);
    first.release();
    EXPECT_FALSE(first.held());
    EXPECT_TRUE(second.acquire());
}

TEST(ComPortDevicesWin32, PortNumbersNameTheSystemsPorts) {
    EXPECT_EQ(comPortDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(comPortDevicePath(255), "\\\\.\\COM255");
    EXPECT_EQ(comPortDevicePath(0), "");
    EXPECT_EQ(comPortDevicePath(256), "");
    EXPECT_EQ(comPortDeviceFolder(), "");
    // The port the serial tests use is mapped while they run.
    const char* mapped = std::getenv("KORVANE_TEST_COM_PORT");
    if (mapped == nullptr) return;
    const int number = std::atoi(mapped);
    bool listed = false;
    for (const ComPortMapping& mapping : mappedComPorts()) {
        EXPECT_EQ(mapping.entryPath, comPortDevicePath(mapping.portNumber));
        if (mapping.portNumber == number) listed = !mapping.target.empty();
    }
    EXPECT_TRUE(listed) << "COM" << number;
    const std::vector<std::string> present = presentSerialDevices();
    EXPECT_NE(std::find(present.begin(), present.end(), "COM" + std::to_string(number)), present.end());
    EXPECT_EQ(deviceAccessError(comPortDevicePath(number)), 0);
    EXPECT_EQ(deviceAccessError(comPortDevicePath(213)), ERROR_FILE_NOT_FOUND);
}

TEST(DeviceAccessWin32, ProblemGivesTheSystemsTextAndNoRemedy) {
    const DeviceAccessProblem problem = describeDeviceAccessProblem("\\\\.\\COM9", ERROR_ACCESS_DENIED);
    EXPECT_EQ(problem.device, "\\\\.\\COM9");
    EXPECT_EQ(problem.error, ERROR_ACCESS_DENIED);
    EXPECT_NE(problem.reason.find("(error 5)"), std::string::npos) << problem.reason;
    EXPECT_GT(problem.reason.size(), std::string(" (error 5)").size());
    EXPECT_TRUE(problem.remedy.empty());
    EXPECT_EQ(deviceAccessProblemText(problem), "cannot open \\\\.\\COM9: " + problem.reason);
}

TEST(ConsoleInputWin32, LinesFromAPipeAndTheInterrupt) {
    int input[2];
    int interrupt[2];
    ASSERT_EQ(_pipe(input, 4096, _O_BINARY), 0);
    ASSERT_EQ(_pipe(interrupt, 64, _O_BINARY), 0);
    EXPECT_FALSE(isTerminal(input[0]));
    ASSERT_EQ(_write(input[1], "v4\r\nsecond\nlast", 15), 15);
    EXPECT_EQ(readLine(input[0], interrupt[0]), std::optional<std::string>("v4"));
    EXPECT_EQ(readLine(input[0], interrupt[0]), std::optional<std::string>("second"));
    // A Ctrl+C's byte abandons a line that has not ended.
    ASSERT_EQ(_write(interrupt[1], "\x02", 1), 1);
    EXPECT_EQ(readLine(input[0], interrupt[0]), std::nullopt);
    char byte = 0;
    ASSERT_EQ(_read(interrupt[0], &byte, 1), 1);
    // The end of the input ends the last line.
    _close(input[1]);
    EXPECT_EQ(readLine(input[0], interrupt[0]), std::optional<std::string>("last"));
    EXPECT_EQ(readLine(input[0], interrupt[0]), std::nullopt);
    _close(input[0]);
    _close(interrupt[0]);
    _close(interrupt[1]);
}

TEST(TerminationSignalWin32, PipeIsQuietUntilAControlEvent) {
    const int pipe = installTerminationSignalPipe();
    ASSERT_GE(pipe, 0);
    EXPECT_EQ(installTerminationSignalPipe(), pipe);
    EXPECT_EQ(takeTerminationSignal(pipe), 0);
}

TEST(InstallationConfigWin32, DefaultLivesUnderProgramData) {
    const char* programData = std::getenv("ProgramData");
    ASSERT_NE(programData, nullptr);
    EXPECT_EQ(defaultInstallationConfigPath(), std::string(programData) + "\\KorvaneFieldLoader\\loader.conf");
    EXPECT_EQ(defaultInstallationConfigPathForHelp(), "%ProgramData%\\KorvaneFieldLoader\\loader.conf");
    _putenv("KORVANE_LOADER_CONFIG=");
    EXPECT_EQ(locateInstallationConfig(), defaultInstallationConfigPath());
    EXPECT_EQ(locateInstallationConfig("C:\\given.conf"), "C:\\given.conf");
    const InstallationConfigResult missing = loadInstallationConfig("C:\\korvane-no-such-folder\\loader.conf");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error.rfind("Installation configuration C:\\korvane-no-such-folder\\loader.conf cannot be read: ", 0),
              0u)
        << missing.error;
}

TEST(TickWin32, ElapsedFollowsTheSystemTick) {
    const uint32_t start = tickCount();
    sleepMs(20);
    EXPECT_GE(elapsedSince(start), 15u);  // the system tick moves in steps of up to 16 ms
    EXPECT_EQ(elapsedBetween(0xFFFFFFF0u, 0x10u), 0x1Fu);
}

}  // namespace
}  // namespace korvane
