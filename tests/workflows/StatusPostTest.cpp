#include "job/LoadJob.h"
#include "job/StatusMailbox.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace korvane {
namespace {

TEST(StatusPostTest, TextReachesALiveWindowAndIsDroppedOtherwise) {
    StatusMailbox::processWide().set("untouched");
    int announced = 0;
    LoadJob job;
    EXPECT_FALSE(job.postStatus("no window yet"));
    EXPECT_EQ(StatusMailbox::processWide().text(), "untouched");

    job.progressWindow = ProgressWindowHandle::open([&] { ++announced; });
    EXPECT_TRUE(job.postStatus("Communicating with pad... "));
    EXPECT_EQ(StatusMailbox::processWide().text(), "Communicating with pad... ");
    EXPECT_EQ(announced, 1);

    // The window goes; the job's copy of the handle must notice.
    ProgressWindowHandle windowsOwn = job.progressWindow;
    windowsOwn.retire();
    EXPECT_FALSE(job.progressWindow.isWindow());
    EXPECT_FALSE(job.postStatus("Canceling..."));
    EXPECT_EQ(StatusMailbox::processWide().text(), "Communicating with pad... ");
    EXPECT_EQ(announced, 1);
}

TEST(StatusPostTest, MailboxKeepsOnlyTheLatestText) {
    int announced = 0;
    const ProgressWindowHandle window = ProgressWindowHandle::open([&] { ++announced; });
    EXPECT_TRUE(postStatus(window, "first"));
    EXPECT_TRUE(postStatus(window, "second"));
    EXPECT_EQ(StatusMailbox::processWide().text(), "second");
    EXPECT_EQ(announced, 2);
}

TEST(StatusPostTest, NoAnnouncementReachesAWindowOnceItHasRetired) {
    std::atomic<int> announced{0};
    std::atomic<bool> retired{false};
    std::atomic<int> lateAnnouncements{0};
    const ProgressWindowHandle window = ProgressWindowHandle::open([&] {
        if (retired) ++lateAnnouncements;
        ++announced;
    });
    std::atomic<bool> stop{false};
    std::vector<std::thread> posters;
    for (int i = 0; i < 4; ++i)
        posters.emplace_back([&] {
            while (!stop) postStatus(window, "Sec Bin Retrieval in Progress... ");
        });
    while (announced < 100) std::this_thread::yield();
    window.retire();
    retired = true;
    const int atRetire = announced;
    stop = true;
    for (std::thread& poster : posters) poster.join();
    EXPECT_EQ(lateAnnouncements.load(), 0);
    EXPECT_EQ(announced.load(), atRetire);
}

}  // namespace
}  // namespace korvane
