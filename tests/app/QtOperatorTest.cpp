#include "app/ComPortPrompt.h"
#include "app/MessageBox.h"
#include "app/PciVersionPrompt.h"
#include "app/ProgressWindow.h"
#include "app/QtOperator.h"
#include "pad/SerialPort.h"
#include "platform/MessagePump.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tools/padpeer/PtyPeer.h"
#include "job/CancelRequested.h"
#include "job/LoadJob.h"
#include "workflows/LoadWorker.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace korvane {
namespace {

bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Plays the operator: whenever a modal window of type T is up, `answer` is run on it.
template <typename T>
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(T&)> answer) : answer_(std::move(answer)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
            if (modal == nullptr || !modal->isVisible()) return;
            onThread = modal->thread();
            ++answered;
            answer_(*modal);
        });
        timer_.start();
    }
    QThread* onThread = nullptr;
    int answered = 0;

private:
    std::function<void(T&)> answer_;
    QTimer timer_;
};

class QtOperatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        mainWindow_.setObjectName("mainWindow");
        mainWindow_.show();
        ::setenv("KORVANE_UNATTENDED", "1", 1);  // nobody to press OK on the messages
        setMessageObserver([this](const std::string& text) {
            messages_.push_back(text);
            messageThreads_.push_back(QThread::currentThread());
        });
    }
    void TearDown() override { setMessageObserver(nullptr); }

    QDialog mainWindow_;
    std::vector<std::string> messages_;
    std::vector<QThread*> messageThreads_;
};

TEST_F(QtOperatorTest, PromptCalledFromAWorkerRunsOnTheGuiThreadAndBlocksTheWorkerUntilAnswered) {
    QtOperator op(&mainWindow_);
    ModalAnswerer<PciVersionPrompt> operatorAtTheDesk(
        [](PciVersionPrompt& prompt) { QTest::mouseClick(prompt.control(PciVersionPrompt::kV4), Qt::LeftButton); });
    LoadJob job;
    std::optional<bool> answer;
    QThread* workerThread = nullptr;
    std::atomic<int> answeredWhenReturned{-1};
    ASSERT_TRUE(runLoadWorker(op, job, [&](LoadJob&) {
        workerThread = QThread::currentThread();
        answer = op.runPciVersionPrompt();
        answeredWhenReturned = operatorAtTheDesk.answered;
        op.showMessage("Could not determine PCI version.");
        return 0;
    }, LoadFamily::ingenico));
    EXPECT_EQ(answer, std::optional<bool>(true));
    EXPECT_EQ(answeredWhenReturned.load(), 1) << "the worker went on only after the operator answered";
    EXPECT_EQ(operatorAtTheDesk.onThread, qApp->thread());
    EXPECT_NE(workerThread, qApp->thread());
    EXPECT_EQ(messages_, std::vector<std::string>{"Could not determine PCI version."});
    EXPECT_EQ(messageThreads_, std::vector<QThread*>{qApp->thread()});
}

TEST_F(QtOperatorTest, ComPortPromptFromTheWorkerReopensTheJobsPort) {
    test::TempDir devices;
    padpeer::PtyPeer pad;
    pad.linkAs(devices.path(), 9);
    ::setenv("KORVANE_DEVICE_DIR", devices.path().c_str(), 1);
    QtOperator op(&mainWindow_);
    int attempt = 0;
    ModalAnswerer<ComPortPrompt> operatorAtTheDesk([&attempt](ComPortPrompt& prompt) {
        // First a number that cannot be right, then the port the pad came back on.
        static_cast<QLineEdit*>(prompt.control(ComPortPrompt::kPortEdit))->setText(attempt++ == 0 ? "0" : "9");
        QTest::mouseClick(prompt.control(ComPortPrompt::kOk), Qt::LeftButton);
    });
    SerialPort port;
    LoadJob job;
    job.serialPort = &port;
    std::optional<int> chosen;
    runLoadWorker(op, job, [&](LoadJob& borrowed) {
        chosen = op.runComPortPrompt(*borrowed.serialPort);
        return 0;
    }, LoadFamily::ingenico);
    ::unsetenv("KORVANE_DEVICE_DIR");
    EXPECT_EQ(chosen, std::optional<int>(9));
    EXPECT_EQ(operatorAtTheDesk.answered, 2);
    EXPECT_EQ(messages_, std::vector<std::string>{"Com Port Out of Range(1-255)."});
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.portNumber(), 9);
}

TEST_F(QtOperatorTest, ProgressWindowFollowsTheWorkersStatusAndCancelReachesIt) {
    QtOperator op(&mainWindow_);
    std::unique_ptr<ProgressView> progress = op.openProgressWindow();
    EXPECT_FALSE(mainWindow_.isEnabled());
    progress->show();
    ProgressWindow* shown = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* candidate = qobject_cast<ProgressWindow*>(top); candidate != nullptr && candidate->isVisible())
            shown = candidate;
    ASSERT_NE(shown, nullptr);
    auto* statusLine = static_cast<QLabel*>(shown->control(ProgressWindow::kStatusLine));

    // The operator presses Cancel once the worker's text is on the screen.
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (statusLine->text() == "Connecting to server to retrieve application... ")
            QTest::mouseClick(shown->control(ProgressWindow::kCancel), Qt::LeftButton);
    });
    watcher.start();

    LoadJob job;
    job.progressWindow = progress->handle();
    ASSERT_TRUE(runLoadWorker(op, job, [](LoadJob& borrowed) {
        borrowed.postStatus("Connecting to server to retrieve application... ");
        if (!test::waitUntil([] { return cancelRequested.load(); }, 10000)) return 1;
        borrowed.postStatus("Canceling...");
        borrowed.errorText = "User canceled file load.";
        return 2;
    }, LoadFamily::ingenico));
    EXPECT_FALSE(job.succeeded);
    EXPECT_EQ(job.errorText, "User canceled file load.");
    EXPECT_TRUE(processEventsUntil([&] { return statusLine->text() == "Canceling..."; }));
    EXPECT_TRUE(progress->pumpAndTakeCancel());

    const ProgressWindowHandle handle = progress->handle();
    progress.reset();
    EXPECT_TRUE(mainWindow_.isEnabled());
    EXPECT_FALSE(handle.isWindow());
    cancelRequested = false;
}

TEST_F(QtOperatorTest, CoreWaitsOnTheGuiThreadPumpQtEventsAndNowhereElse) {
    int ran = 0;
    {
        QtOperator op(&mainWindow_);
        QTimer::singleShot(0, [&] { ++ran; });
        std::thread elsewhere([] { pumpMessages(); });
        elsewhere.join();
        pumpMessages();
        EXPECT_EQ(ran, 1);
    }
    QTimer::singleShot(0, [&] { ++ran; });
    pumpMessages();  // the hook went with the operator
    EXPECT_EQ(ran, 1);
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace korvane
