#include "app/cli/ConsoleOperator.h"
#include "pad/SerialPort.h"
#include "platform/MessagePump.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tools/padpeer/PtyPeer.h"
#include "job/CancelRequested.h"
#include "job/LoadJob.h"
#include "job/StatusMailbox.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace korvane {
namespace {

// Standard output and error of the operator, captured in temporary files.
class Captured {
public:
    Captured() : file_(std::tmpfile()) {}
    ~Captured() { std::fclose(file_); }
    std::FILE* stream() const { return file_; }
    std::string text() const {
        std::fflush(file_);
        std::string all;
        std::rewind(file_);
        char buffer[512];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) all.append(buffer, got);
        std::fseek(file_, 0, SEEK_END);
        return all;
    }

private:
    std::FILE* file_;
};

class ConsoleOperatorTest : public ::testing::Test {
protected:
    ConsoleOperator::Streams streams(int in = -1) { return {out_.stream(), err_.stream(), in}; }

    Captured out_;
    Captured err_;
};

TEST_F(ConsoleOperatorTest, MessagesGoToStandardOutputWithPlainLineEnds) {
    ConsoleOperator op({}, streams());
    op.showMessage("Error Returned trying to Retrieve Load Identifier:\r\nno route");
    op.showMessage("Pad already loaded.");
    op.showMessage("one\rtwo\n");
    EXPECT_EQ(out_.text(), "Error Returned trying to Retrieve Load Identifier:\nno route\nPad already loaded.\none\ntwo\n");
    EXPECT_EQ(err_.text(), "");
}

TEST_F(ConsoleOperatorTest, StatusTextsGoToStandardErrorAsTheyChange) {
    ConsoleOperator op({}, streams());
    LoadJob job;
    {
        std::unique_ptr<ProgressView> progress = op.openProgressWindow();
        progress->show();
        job.progressWindow = progress->handle();
        std::thread worker([&] {
            job.postStatus("Communicating with pad... ");
            job.postStatus("Communicating with pad... ");
            job.postStatus("Failed to load RBA file after.\r\nTimeout");
        });
        worker.join();
    }
    EXPECT_FALSE(job.postStatus("Canceling..."));
    EXPECT_EQ(err_.text(), "Communicating with pad... \nFailed to load RBA file after.\nTimeout\n");
    EXPECT_EQ(out_.text(), "");
}

TEST_F(ConsoleOperatorTest, CtrlCIsTheShownWindowsCancelAndASecondDoesNothing) {
    ConsoleOperator op({}, streams());
    std::unique_ptr<ProgressView> progress = op.openProgressWindow();
    progress->show();
    EXPECT_FALSE(cancelRequested.load());

    std::raise(SIGINT);
    pumpMessages();
    EXPECT_TRUE(cancelRequested.load());
    EXPECT_TRUE(progress->pumpAndTakeCancel());
    EXPECT_FALSE(progress->pumpAndTakeCancel());

    std::raise(SIGINT);
    EXPECT_FALSE(progress->pumpAndTakeCancel());
    EXPECT_EQ(err_.text(), "Cancel Sent\n");

    // The next load's window starts without it.
    std::unique_ptr<ProgressView> next = op.openProgressWindow();
    EXPECT_FALSE(cancelRequested.load());
}

TEST_F(ConsoleOperatorTest, CtrlCOutsideALoadEndsTheProgramAsTheSignalWould) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ConsoleOperator op({}, streams());
            std::unique_ptr<ProgressView> hidden = op.openProgressWindow();
            std::raise(SIGINT);
            pumpMessages();
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

class ConsolePortPromptTest : public ConsoleOperatorTest {
protected:
    void SetUp() override {
        pad_.linkAs(devices_.path(), 4);
        // COM 12 names a device that is not there, never this machine's own ttyS11.
        ASSERT_EQ(::symlink(devices_.file("unplugged").c_str(), devices_.file("com12").c_str()), 0);
        ::setenv("KORVANE_DEVICE_DIR", devices_.path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("KORVANE_DEVICE_DIR"); }

    test::TempDir devices_;
    padpeer::PtyPeer pad_;
};

TEST_F(ConsolePortPromptTest, NewPortOptionAnswersTheComPortPrompt) {
    const struct {
        std::optional<std::string> newPort;
        std::optional<int> answer;
        const char* message;  // on standard output
    } cases[] = {
        {std::nullopt, std::nullopt, ""},
        {"4", 4, ""},
        {"0", std::nullopt, "Com Port Out of Range(1-255).\n"},
        {"12", std::nullopt, "Failed on Com Port Access.\n"},
    };
    for (const auto& c : cases) {
        Captured out;
        ConsoleAnswers answers;
        answers.newPort = c.newPort;
        ConsoleOperator op(answers, {out.stream(), err_.stream(), -1});
        SerialPort port;
        ASSERT_TRUE(port.open(4, 115200, 'N', '8', '1', true));  // the load's port before the prompt
        EXPECT_EQ(op.runComPortPrompt(port), c.answer) << c.newPort.value_or("none");
        EXPECT_EQ(port.isOpen(), c.answer.has_value()) << c.newPort.value_or("none");
        EXPECT_EQ(out.text(), c.message) << c.newPort.value_or("none");
    }
}

TEST_F(ConsoleOperatorTest, OptionsAnswerTheDownloadStepsAndPciPrompts) {
    int notATerminal[2];
    ASSERT_EQ(::pipe(notATerminal), 0);
    const struct {
        bool ready;
        std::optional<bool> pci;
    } cases[] = {{false, std::nullopt}, {true, true}, {false, false}};
    for (const auto& c : cases) {
        ConsoleAnswers answers;
        answers.downloadModeReady = c.ready;
        answers.pciVersionV4 = c.pci;
        ConsoleOperator op(answers, streams(notATerminal[0]));
        EXPECT_EQ(op.runDownloadStepsWindow(), c.ready);
        EXPECT_EQ(op.runPciVersionPrompt(), c.pci) << "missing, and no terminal to ask: cancelled";
    }
    ::close(notATerminal[0]);
    ::close(notATerminal[1]);
}

class TerminalQuestionTest : public ConsoleOperatorTest {
protected:
    void SetUp() override { ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0); }
    void TearDown() override {
        ::close(master_);
        ::close(slave_);
    }
    void type(const std::string& keys) { ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

    int master_ = -1;
    int slave_ = -1;
};

TEST_F(TerminalQuestionTest, PciVersionIsAskedOnTheTerminalWhenNotGiven) {
    const struct {
        const char* keys;
        std::optional<bool> answer;
    } cases[] = {{"v4\n", true}, {"V3\n", false}, {"maybe\n 4 \n", true}};
    for (const auto& c : cases) {
        ConsoleOperator op({}, streams(slave_));
        type(c.keys);
        EXPECT_EQ(op.runPciVersionPrompt(), c.answer) << c.keys;
    }
    EXPECT_NE(err_.text().find("If you do not see V4, please select V3."), std::string::npos);
    EXPECT_NE(err_.text().find("V3 or V4? "), std::string::npos);
}

TEST_F(TerminalQuestionTest, CtrlCAtTheQuestionCancelsItAndNotTheLoad) {
    ConsoleOperator op({}, streams(slave_));
    std::unique_ptr<ProgressView> progress = op.openProgressWindow();
    progress->show();
    std::thread operatorPresses([] { std::raise(SIGINT); });
    operatorPresses.join();
    EXPECT_EQ(op.runPciVersionPrompt(), std::nullopt);
    EXPECT_FALSE(progress->pumpAndTakeCancel());
    EXPECT_FALSE(cancelRequested.load());
}

TEST(PromptOptionTest, TakesTheThreePromptOptions) {
    const struct {
        std::vector<std::string> args;
        int taken;
        std::optional<std::string> newPort;
        bool ready;
        std::optional<bool> pci;
    } cases[] = {
        {{"--new-port", "5"}, 2, "5", false, std::nullopt},
        {{"--new-port=17"}, 1, "17", false, std::nullopt},
        {{"--download-mode-ready"}, 1, std::nullopt, true, std::nullopt},
        {{"--pci-version", "V4"}, 2, std::nullopt, false, true},
        {{"--pci-version=v3"}, 1, std::nullopt, false, false},
        {{"--pci-version", "v5"}, -1, std::nullopt, false, std::nullopt},
        {{"--new-port"}, -1, std::nullopt, false, std::nullopt},
        {{"--port", "3"}, 0, std::nullopt, false, std::nullopt},
    };
    for (const auto& c : cases) {
        ConsoleAnswers answers;
        std::string error;
        EXPECT_EQ(takePromptOption(c.args, 0, answers, error), c.taken) << c.args[0];
        EXPECT_EQ(answers.newPort, c.newPort) << c.args[0];
        EXPECT_EQ(answers.downloadModeReady, c.ready) << c.args[0];
        EXPECT_EQ(answers.pciVersionV4, c.pci) << c.args[0];
        EXPECT_EQ(error.empty(), c.taken >= 0) << c.args[0];
    }
}

}  // namespace
}  // namespace korvane
