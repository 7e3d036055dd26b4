#include "platform/HeldThread.h"
#include "tests/support/ChildProcess.h"
#include "job/CancelRequested.h"
#include "job/LoadJob.h"
#include "workflows/LoadWorker.h"
#include "workflows/Operator.h"

#include <atomic>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace korvane {
namespace {

// An operator whose "event queue" is a list of tasks any thread may post;
// pumping runs them on the pumping thread, as a GUI's message loop would.
class QueueOperator : public Operator {
public:
    std::vector<std::string> messages;
    std::atomic<int> pumps{0};
    std::thread::id pumpThread;

    void post(std::function<void()> task) {
        std::lock_guard<std::mutex> guard(lock_);
        tasks_.push_back(std::move(task));
    }

    void showMessage(const std::string& text) override { messages.push_back(text); }
    std::unique_ptr<ProgressView> openProgressWindow() override { return nullptr; }
    std::optional<int> runComPortPrompt(SerialPort&) override { return std::nullopt; }
    bool runDownloadStepsWindow() override { return false; }
    std::optional<bool> runPciVersionPrompt() override { return std::nullopt; }
    void pumpMessages() override {
        ++pumps;
        pumpThread = std::this_thread::get_id();
        std::deque<std::function<void()>> due;
        {
            std::lock_guard<std::mutex> guard(lock_);
            due.swap(tasks_);
        }
        for (auto& task : due) task();
    }

private:
    std::mutex lock_;
    std::deque<std::function<void()>> tasks_;
};

TEST(LoadWorkerTest, WorkerRunsOnItsOwnThreadAndTheHandlerSeesItsResult) {
    QueueOperator op;
    LoadJob job;
    job.comPort = 7;
    std::thread::id workerThread;
    const bool started = runLoadWorker(op, job, [&](LoadJob& borrowed) {
        workerThread = std::this_thread::get_id();
        borrowed.errorText = "seen port " + std::to_string(borrowed.comPort);
        borrowed.succeeded = true;
        return 0;
    }, LoadFamily::ingenico);
    EXPECT_TRUE(started);
    EXPECT_TRUE(job.succeeded);
    EXPECT_EQ(job.errorText, "seen port 7");
    EXPECT_NE(workerThread, std::this_thread::get_id());
    EXPECT_TRUE(op.messages.empty());
}

TEST(LoadWorkerTest, HandlerKeepsPumpingWhileTheWorkerRuns) {
    // The worker can only finish once an event it posts has been handled on
    // the waiting thread: a wait that did not pump would never see it.
    QueueOperator op;
    LoadJob job;
    std::atomic<bool> handled{false};
    std::thread::id handledOn;
    runLoadWorker(op, job, [&](LoadJob& borrowed) {
        op.post([&] {
            handledOn = std::this_thread::get_id();
            handled = true;
        });
        borrowed.succeeded = test::waitUntil([&] { return handled.load(); }, 10000);
        return 0;
    }, LoadFamily::equinox);
    EXPECT_TRUE(job.succeeded);
    EXPECT_EQ(handledOn, std::this_thread::get_id());
    EXPECT_GE(op.pumps.load(), 1);
}

TEST(LoadWorkerTest, CancelSetOnTheWaitingThreadReachesTheWorkersLoop) {
    QueueOperator op;
    LoadJob job;
    cancelRequested = false;
    runLoadWorker(op, job, [&](LoadJob& borrowed) {
        // As a download loop: one step, then a look at the flag.
        op.post([] { cancelRequested = true; });
        if (test::waitUntil([] { return cancelRequested.load(); }, 10000)) {
            borrowed.errorText = "User canceled file load.";
            return 1;
        }
        borrowed.succeeded = true;
        return 0;
    }, LoadFamily::ingenico);
    EXPECT_FALSE(job.succeeded);
    EXPECT_EQ(job.errorText, "User canceled file load.");
    cancelRequested = false;
}

struct StartFailureCase {
    LoadFamily family;
    const char* message;
};

class WorkerStartFailureTest : public ::testing::TestWithParam<StartFailureCase> {
protected:
    void TearDown() override { HeldThread::setCreationFailsForTesting(false); }
};

TEST_P(WorkerStartFailureTest, LeavesTheJobUntouchedAndShowsTheFamilysText) {
    HeldThread::setCreationFailsForTesting(true);
    QueueOperator op;
    LoadJob job;
    job.errorText = "before";
    bool ran = false;
    const bool started = runLoadWorker(op, job, [&](LoadJob& borrowed) {
        ran = true;
        borrowed.succeeded = true;
        borrowed.errorText = "worker was here";
        return 0;
    }, GetParam().family);
    EXPECT_FALSE(started);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(job.succeeded);
    EXPECT_EQ(job.errorText, "before");
    EXPECT_EQ(op.messages, std::vector<std::string>{GetParam().message});
    EXPECT_EQ(op.pumps.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Families, WorkerStartFailureTest,
                         ::testing::Values(StartFailureCase{LoadFamily::ingenico, "Failed to Start Load Thread!"},
                                           StartFailureCase{LoadFamily::equinox, "failed to Start Load Thread!"},
                                           StartFailureCase{LoadFamily::verifone, "failed to Start Load Thread!"}));

TEST(HeldThreadTest, BodyWaitsForReleaseAndReleaseCountsTheHoldOnce) {
    std::atomic<bool> ran{false};
    HeldThread thread;
    ASSERT_TRUE(thread.create([&] { ran = true; }));
    EXPECT_FALSE(thread.waitForEnd(50));
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(thread.release(), 1);
    EXPECT_EQ(thread.release(), 0);
    EXPECT_TRUE(thread.waitForEnd(10000));
    EXPECT_TRUE(ran.load());
}

TEST(HeldThreadTest, ThreadGivenUpWhileHeldNeverRunsItsBody) {
    std::atomic<bool> ran{false};
    {
        HeldThread thread;
        ASSERT_TRUE(thread.create([&] { ran = true; }));
    }
    EXPECT_FALSE(ran.load());
}

TEST(HeldThreadTest, DestructionWaitsForAReleasedBody) {
    std::atomic<bool> finished{false};
    std::atomic<bool> mayFinish{false};
    std::thread releaser;
    {
        HeldThread thread;
        ASSERT_TRUE(thread.create([&] {
            test::waitUntil([&] { return mayFinish.load(); }, 10000);
            finished = true;
        }));
        thread.release();
        releaser = std::thread([&] { mayFinish = true; });
    }
    EXPECT_TRUE(finished.load());
    releaser.join();
}

}  // namespace
}  // namespace korvane
