#include "app/ProgressWindow.h"
#include "job/CancelRequested.h"
#include "job/StatusMailbox.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>

namespace korvane {
namespace {

void processPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner_.setObjectName("stand-in main window");
        owner_.show();
    }

    QPushButton* cancelOf(ProgressWindow& window) {
        return static_cast<QPushButton*>(window.control(ProgressWindow::kCancel));
    }
    QProgressBar* barOf(ProgressWindow& window) {
        return static_cast<QProgressBar*>(window.control(ProgressWindow::kProgressBar));
    }
    QString statusOf(ProgressWindow& window) {
        return static_cast<QLabel*>(window.control(ProgressWindow::kStatusLine))->text();
    }

    QDialog owner_;
};

TEST_F(ProgressWindowTest, CarriesTheTemplatesTitleTextsAndControls) {
    ProgressWindow window(&owner_);
    EXPECT_EQ(window.windowTitle(), "Processing . . .");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(cancelOf(window)->text(), "C&ANCEL\n[ESC]");
    EXPECT_EQ(barOf(window)->minimum(), 1);
    EXPECT_EQ(barOf(window)->maximum(), 50);
    EXPECT_EQ(statusOf(window), "");
    QStringList labels;
    for (QLabel* label : window.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains("Please Wait."));
    EXPECT_TRUE(labels.contains("Processing . . ."));
}

TEST_F(ProgressWindowTest, DisablesItsOwnerWhileItExistsWithoutBeingDisabledItself) {
    {
        ProgressWindow outer(&owner_);
        outer.show();
        EXPECT_FALSE(owner_.isEnabled());
        EXPECT_TRUE(outer.isEnabled());
        EXPECT_TRUE(cancelOf(outer)->isEnabled());
        {
            // A second window over an owner that is already disabled must not
            // give it back while the first still stands.
            ProgressWindow inner(&owner_);
            EXPECT_FALSE(inner.ownerDisabled());
        }
        EXPECT_FALSE(owner_.isEnabled());
    }
    EXPECT_TRUE(owner_.isEnabled());

    auto* doomedOwner = new QDialog;
    doomedOwner->show();
    ProgressWindow outlives(doomedOwner);
    delete doomedOwner;  // the window must not touch it afterwards
}

TEST_F(ProgressWindowTest, ConstructionClearsCancelRequested) {
    cancelRequested = true;
    ProgressWindow window(&owner_);
    EXPECT_FALSE(cancelRequested.load());
}

struct CancelWay {
    const char* name;
    std::function<void(ProgressWindow&, QPushButton*)> press;
};

class ProgressWindowCancelTest : public ProgressWindowTest, public ::testing::WithParamInterface<CancelWay> {};

TEST_P(ProgressWindowCancelTest, FirstCancelIsSentAndASecondDoesNothing) {
    ProgressWindow window(&owner_);
    window.show();
    QPushButton* cancel = cancelOf(window);
    EXPECT_FALSE(window.pumpAndTakeCancel());

    GetParam().press(window, cancel);
    EXPECT_TRUE(cancelRequested.load());
    EXPECT_FALSE(cancel->isEnabled());
    EXPECT_EQ(cancel->text(), "Cancel Sent");
    EXPECT_TRUE(window.isVisible()) << "the owner closes it when the load ends";
    EXPECT_TRUE(window.pumpAndTakeCancel());
    EXPECT_FALSE(window.pumpAndTakeCancel());

    cancelRequested = false;
    GetParam().press(window, cancel);
    EXPECT_FALSE(window.pumpAndTakeCancel());
    EXPECT_FALSE(cancelRequested.load());
    EXPECT_TRUE(window.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ProgressWindowCancelTest,
    ::testing::Values(CancelWay{"Button", [](ProgressWindow&, QPushButton* cancel) { QTest::mouseClick(cancel, Qt::LeftButton); }},
                      CancelWay{"Escape", [](ProgressWindow& window, QPushButton*) { QTest::keyClick(&window, Qt::Key_Escape); }},
                      CancelWay{"CloseRequest", [](ProgressWindow& window, QPushButton*) { window.close(); }}),
    [](const ::testing::TestParamInfo<CancelWay>& way) { return std::string(way.param.name); });

// Sees each status announcement before the window handles it.
class StatusEventSpy : public QObject {
public:
    explicit StatusEventSpy(ProgressWindow& window) : window_(window) { window.installEventFilter(this); }
    QStringList lineBeforeEachEvent;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == ProgressWindow::statusEventType())
            lineBeforeEachEvent << static_cast<QLabel*>(window_.control(ProgressWindow::kStatusLine))->text();
        return false;
    }

private:
    ProgressWindow& window_;
};

TEST_F(ProgressWindowTest, TwoTextsPostedBeforeTheWindowFetchesShowOnlyTheSecond) {
    ProgressWindow window(&owner_);
    window.show();
    StatusEventSpy spy(window);
    ASSERT_TRUE(postStatus(window.handle(), "Connecting to server to retrieve application... "));
    ASSERT_TRUE(postStatus(window.handle(), "Waiting for device to restart..."));
    processPending();
    EXPECT_EQ(statusOf(window), "Waiting for device to restart...");
    // The first text was never on the line, not even between the two announcements.
    EXPECT_EQ(spy.lineBeforeEachEvent, QStringList({"", "Waiting for device to restart..."}));
}

TEST_F(ProgressWindowTest, HidingAndShowingRestartsTheBarTheTimerAndCancel) {
    ProgressWindow window(&owner_);
    window.show();
    EXPECT_EQ(barOf(window)->value(), 0);
    EXPECT_TRUE(window.tickTimer().isActive());
    EXPECT_EQ(window.tickTimer().interval(), 2000);
    EXPECT_EQ(window.focusWidget(), barOf(window));
    for (int tick = 0; tick < 3; ++tick) window.advanceBar();
    EXPECT_EQ(barOf(window)->value(), 15);
    QTest::mouseClick(cancelOf(window), Qt::LeftButton);

    window.hide();
    EXPECT_FALSE(window.tickTimer().isActive());
    window.show();
    EXPECT_EQ(barOf(window)->value(), 0);
    EXPECT_TRUE(window.tickTimer().isActive());
    EXPECT_TRUE(cancelOf(window)->isEnabled());
}

// Whether `label` has room for its whole text, wrapped where it wraps.
::testing::AssertionResult showsWhole(const QLabel& label) {
    const QRect room = label.contentsRect();
    const int flags = Qt::AlignCenter | (label.wordWrap() ? Qt::TextWordWrap : 0);
    const QRect needed = label.fontMetrics().boundingRect(room, flags, label.text());
    if (needed.width() <= room.width() && needed.height() <= room.height()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << label.text().toStdString() << "\" needs " << needed.width() << "x"
                                         << needed.height() << ", has " << room.width() << "x" << room.height();
}

TEST_F(ProgressWindowTest, EveryStatusTextIsShownWholeWithinTheScreen) {
    ProgressWindow window(&owner_);
    window.show();
    const auto* status = static_cast<const QLabel*>(window.control(ProgressWindow::kStatusLine));
    QString endless;
    for (int i = 0; i < 40; ++i) endless += "Load Command To Device Failed on block 7. ";
    // Short first: the window opens at its first width.
    for (const QString& text : {QString("Communicating with pad... "),
                                QString("RBA load complete. Waiting for device to install and restart."),
                                QString("Loading RBAIPP350.OGZ block 1 of 11"), endless}) {
        StatusMailbox::processWide().set(text.toStdString());
        QCoreApplication::postEvent(&window, new QEvent(ProgressWindow::statusEventType()));
        processPending();
        EXPECT_EQ(status->text(), text);
        EXPECT_TRUE(showsWhole(*status));
        const QRect screen = window.screen()->availableGeometry();
        EXPECT_LE(window.frameGeometry().width(), screen.width()) << text.toStdString();
    }
}

TEST_F(ProgressWindowTest, OpensCentredOnItsOwner) {
    owner_.setGeometry(100, 80, 600, 440);
    processPending();
    ProgressWindow window(&owner_);
    window.show();
    processPending();
    const QPoint centre = window.frameGeometry().center(), ownerCentre = owner_.frameGeometry().center();
    EXPECT_LE(std::abs(centre.x() - ownerCentre.x()), 2) << centre.x() << " vs " << ownerCentre.x();
    EXPECT_LE(std::abs(centre.y() - ownerCentre.y()), 2) << centre.y() << " vs " << ownerCentre.y();
}

TEST(ProgressBarTest, StepsByFiveAndStartsAgainPastTheEnd) {
    const int cases[][2] = {{0, 5}, {1, 6}, {45, 50}, {46, 1}, {50, 1}};
    for (const auto& c : cases) EXPECT_EQ(ProgressWindow::nextBarPosition(c[0]), c[1]) << c[0];
    // A full sweep from the empty bar takes ten ticks.
    int position = 0;
    for (int tick = 0; tick < 10; ++tick) position = ProgressWindow::nextBarPosition(position);
    EXPECT_EQ(position, 50);
    EXPECT_EQ(ProgressWindow::nextBarPosition(position), 1);
}

TEST_F(ProgressWindowTest, StatusPostedAfterTheWindowIsGoneIsDropped) {
    auto* window = new ProgressWindow(&owner_);
    window->show();
    const ProgressWindowHandle handle = window->handle();
    ASSERT_TRUE(postStatus(handle, "Sec Bin Retrieval in Progress... "));
    delete window;  // with its announcement still queued
    processPending();
    EXPECT_FALSE(postStatus(handle, "Canceling..."));
    EXPECT_EQ(StatusMailbox::processWide().text(), "Sec Bin Retrieval in Progress... ");
}

}  // namespace
}  // namespace korvane
