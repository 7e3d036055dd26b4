#include "app/ComPortPrompt.h"
#include "app/DownloadStepsWindow.h"
#include "app/MessageBox.h"
#include "app/PciVersionPrompt.h"
#include "app/StepsScroll.h"
#include "app/UpDownControl.h"
#include "app/WindowPlacement.h"
#include "pad/SerialPort.h"
#include "tests/support/TempDir.h"
#include "tools/padpeer/PtyPeer.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <initializer_list>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvane {
namespace {

void click(QWidget* button) { QTest::mouseClick(button, Qt::LeftButton); }

class ComPortPromptTest : public ::testing::Test {
protected:
    void SetUp() override {
        pad_.linkAs(dir_.path(), 5);
        ASSERT_EQ(::symlink(dir_.file("unplugged").c_str(), dir_.file("com7").c_str()), 0);
        ::setenv("KORVANE_DEVICE_DIR", dir_.path().c_str(), 1);
        ::setenv("KORVANE_UNATTENDED", "1", 1);  // nobody to press OK on the messages
        setMessageObserver([this](const std::string& text) { messages_.push_back(text); });
    }
    void TearDown() override {
        setMessageObserver(nullptr);
        ::unsetenv("KORVANE_DEVICE_DIR");
    }

    // Types `text` into the port field and presses OK.
    void answer(ComPortPrompt& prompt, const QString& text) {
        auto* edit = static_cast<QLineEdit*>(prompt.control(ComPortPrompt::kPortEdit));
        edit->setText(text);
        click(prompt.control(ComPortPrompt::kOk));
    }

    test::TempDir dir_;
    padpeer::PtyPeer pad_;
    std::vector<std::string> messages_;
};

TEST_F(ComPortPromptTest, ShowsItsTextsAndStartsAtPortOne) {
    SerialPort port;
    ComPortPrompt prompt(port);
    prompt.show();
    EXPECT_EQ(prompt.windowTitle(), "Enter COM Port");
    QStringList labels;
    for (QLabel* label : prompt.findChildren<QLabel*>()) labels << label->text();
    EXPECT_TRUE(labels.contains(ComPortPrompt::kText));
    EXPECT_TRUE(labels.contains("New PC Comm Port:"));
    EXPECT_EQ(static_cast<QLineEdit*>(prompt.control(ComPortPrompt::kPortEdit))->text(), "1");
    auto* upDown = static_cast<UpDownControl*>(prompt.control(ComPortPrompt::kPortUpDown));
    EXPECT_EQ(upDown->lowest(), 1);
    EXPECT_EQ(upDown->highest(), 255);
    EXPECT_EQ(static_cast<QPushButton*>(prompt.control(ComPortPrompt::kCancel))->text(), "Cancel");
}

TEST_F(ComPortPromptTest, StaysOpenUntilAValidOpenablePortIsGiven) {
    SerialPort port;
    std::string error;
    ASSERT_TRUE(port.open(5, 115200, 'N', '8', '1', true));
    ComPortPrompt prompt(port);
    prompt.show();

    const struct {
        const char* typed;
        const char* message;
    } refused[] = {
        {"0", "Com Port Out of Range(1-255)."},
        {"", "Com Port Out of Range(1-255)."},
        {"256", "Com Port Out of Range(1-255)."},
        {"x9", "Com Port Out of Range(1-255)."},
        {"7", "Failed on Com Port Access."},
    };
    for (const auto& c : refused) {
        messages_.clear();
        answer(prompt, c.typed);
        EXPECT_EQ(messages_, std::vector<std::string>{c.message}) << '"' << c.typed << '"';
        EXPECT_TRUE(prompt.isVisible()) << '"' << c.typed << '"';
        EXPECT_FALSE(port.isOpen()) << "the previously open port is left closed";
    }

    messages_.clear();
    answer(prompt, "5");
    EXPECT_TRUE(messages_.empty());
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_EQ(prompt.result(), QDialog::Accepted);
    EXPECT_EQ(prompt.chosenPort, 5);
    EXPECT_EQ(prompt.portText, "5");
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.portNumber(), 5);
}

TEST_F(ComPortPromptTest, CancelLeavesThePortClosed) {
    SerialPort port;
    ASSERT_TRUE(port.open(5, 115200, 'N', '8', '1', true));  // the load's port, still open on the old number
    ComPortPrompt prompt(port);
    prompt.show();
    answer(prompt, "0");
    click(prompt.control(ComPortPrompt::kCancel));
    EXPECT_FALSE(prompt.isVisible());
    EXPECT_EQ(prompt.result(), QDialog::Rejected);
    EXPECT_FALSE(port.isOpen());
}

TEST(PciVersionPromptTest, ButtonsAndEscapeGiveTheOperatorsAnswer) {
    const struct {
        const char* way;
        int button;  // 0: Escape
        int result;
        bool v4;
    } cases[] = {
        {"V3", PciVersionPrompt::kV3, QDialog::Accepted, false},
        {"V4", PciVersionPrompt::kV4, QDialog::Accepted, true},
        {"Escape", 0, QDialog::Rejected, false},
    };
    for (const auto& c : cases) {
        PciVersionPrompt prompt;
        prompt.v4Chosen = true;  // whatever was left: opening clears it
        prompt.show();
        EXPECT_FALSE(prompt.v4Chosen);
        EXPECT_EQ(prompt.windowTitle(), "PCI Version");
        if (c.button != 0) {
            EXPECT_EQ(static_cast<QPushButton*>(prompt.control(c.button))->text(), c.way);
            click(prompt.control(c.button));
        } else {
            QTest::keyClick(&prompt, Qt::Key_Escape);
        }
        EXPECT_FALSE(prompt.isVisible()) << c.way;
        EXPECT_EQ(prompt.result(), c.result) << c.way;
        EXPECT_EQ(prompt.v4Chosen, c.v4) << c.way;
    }
}

TEST_F(ComPortPromptTest, PromptsOpenCentredOnTheMainWindow) {
    QDialog owner;
    owner.setGeometry(100, 80, 600, 440);
    owner.show();
    SerialPort port;
    ComPortPrompt comPort(port);
    PciVersionPrompt pciVersion;
    for (QDialog* prompt : std::initializer_list<QDialog*>{&comPort, &pciVersion}) {
        placeOver(prompt, &owner);
        prompt->show();
        QCoreApplication::processEvents();
        const QPoint centre = prompt->frameGeometry().center(), ownerCentre = owner.frameGeometry().center();
        EXPECT_LE(std::abs(centre.x() - ownerCentre.x()), 2) << prompt->windowTitle().toStdString();
        EXPECT_LE(std::abs(centre.y() - ownerCentre.y()), 2) << prompt->windowTitle().toStdString();
        prompt->hide();
    }
}

TEST(StepsScrollTest, MovesFollowTheWindowsArithmetic) {
    using C = ScrollCode;
    const struct {
        C code;
        int clientHeight;
        int offset;
        int thumb;
        std::optional<int> move;
    } cases[] = {
        // Client 347: range 500, a line is 5, a page 50.
        {C::lineDown, 347, 0, 0, 5},          {C::lineDown, 347, 498, 0, 2},      {C::lineDown, 347, 500, 0, {}},
        {C::lineDown, 347, 600, 0, {}},       {C::lineUp, 347, 0, 0, {}},         {C::lineUp, 347, -3, 0, {}},
        {C::lineUp, 347, 3, 0, -3},           {C::lineUp, 347, 100, 0, -5},       {C::pageDown, 347, 0, 0, 50},
        {C::pageDown, 347, 480, 0, 20},       {C::pageUp, 347, 30, 0, -30},       {C::pageUp, 347, 200, 0, -50},
        {C::pageUp, 347, 0, 0, {}},           {C::thumbPosition, 347, 100, 321, 221},
        {C::thumbPosition, 347, 321, 321, 0}, {C::thumbPosition, 347, 300, 0, -300},
        {C::thumbTrack, 347, 0, 200, {}},     {C::top, 347, 200, 0, {}},          {C::bottom, 347, 0, 0, {}},
        {C::endScroll, 347, 0, 0, {}},
        // Client 800: range 47, a line is 0 (a move of nothing), a page 4.
        {C::lineDown, 800, 0, 0, 0},          {C::pageDown, 800, 45, 0, 2},
        // Nothing to scroll.
        {C::lineDown, 847, 0, 0, {}},         {C::pageDown, 900, 0, 0, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(stepsScrollMove(c.code, c.clientHeight, c.offset, c.thumb), c.move)
            << static_cast<int>(c.code) << " h=" << c.clientHeight << " p=" << c.offset;
}

TEST(StepsScrollTest, BarRangeAndOpeningHeight) {
    const struct {
        int clientHeight, maximum, pageSize;
        bool enabled;
    } bars[] = {{347, 500, 50, true}, {846, 1, 0, true}, {847, 0, 0, false}, {1000, 0, 0, false}, {0, 847, 84, true}};
    for (const auto& c : bars) {
        const StepsScrollBar bar = stepsScrollBar(c.clientHeight);
        EXPECT_EQ(bar.maximum, c.maximum) << c.clientHeight;
        EXPECT_EQ(bar.pageSize, c.pageSize) << c.clientHeight;
        EXPECT_EQ(bar.enabled, c.enabled) << c.clientHeight;
    }
    const int heights[][3] = {{810, 848, 810}, {810, 847, 710}, {810, 800, 710}, {1000, 800, 800}, {1000, 1080, 1000}};
    for (const auto& c : heights) EXPECT_EQ(stepsWindowHeight(c[0], c[1]), c[2]) << c[0] << " on " << c[1];
}

class DownloadStepsWindowTest : public ::testing::Test {
protected:
    QWidget* viewport(DownloadStepsWindow& window) { return window.findChild<QWidget*>("stepsViewport"); }
};

TEST_F(DownloadStepsWindowTest, ShowsTenPicturesWithTheirSteps) {
    DownloadStepsWindow window;
    EXPECT_EQ(window.windowTitle(), "Steps to enter download mode");
    std::vector<QImage> pictures;
    for (int step = 1; step <= 10; ++step) {
        auto* picture = window.findChild<QLabel*>(QString("stepPicture%1").arg(step));
        ASSERT_NE(picture, nullptr) << step;
        ASSERT_FALSE(picture->pixmap().isNull()) << step;
        for (const QImage& earlier : pictures) EXPECT_NE(picture->pixmap().toImage(), earlier) << step;
        pictures.push_back(picture->pixmap().toImage());
    }
    auto text = [&](int step) { return window.findChild<QLabel*>(QString("stepText%1").arg(step))->text(); };
    EXPECT_EQ(text(1), "1. Press F2 and F4 simultaneously");
    EXPECT_EQ(text(2), "2. Enter Terminal Manager password\n    Typically 1,Alpha,Alpha,6,6,8,3,1");
    EXPECT_EQ(text(5), "5. Enter GID 1 Password\n    Typically 1,Alpha,Alpha,6,6,8,3,1");
    EXPECT_EQ(text(8), "8. Select Communication Type\n   Typically USB Dev (on second page)");
    EXPECT_EQ(text(9), "");
    EXPECT_EQ(text(10), "10. Device is ready to receive download");
}

TEST_F(DownloadStepsWindowTest, OnAShortWorkAreaOpensShorterAndScrollsToTheLastStep) {
    const int workArea = QGuiApplication::primaryScreen()->availableGeometry().height();
    ASSERT_LE(workArea, kStepsContentHeight) << "the offscreen screen is expected to be short";
    DownloadStepsWindow window;
    EXPECT_EQ(window.height(), stepsWindowHeight(window.templateSize().height(), workArea));
    EXPECT_LE(window.height(), window.templateSize().height() - 100);
    window.show();
    QCoreApplication::processEvents();
    const int client = viewport(window)->height();
    ASSERT_EQ(window.clientHeight(), client);
    ASSERT_LT(client, kStepsContentHeight);
    EXPECT_EQ(window.scrollBar()->maximum(), kStepsContentHeight - client);
    EXPECT_TRUE(window.scrollBar()->isEnabled());

    // Page by page to the end, then no further.
    int pages = 0;
    while (window.scrollOffset() < kStepsContentHeight - client && pages < 100) {
        window.scroll(ScrollCode::pageDown);
        ++pages;
    }
    EXPECT_EQ(window.scrollOffset(), kStepsContentHeight - client);
    window.scroll(ScrollCode::pageDown);
    EXPECT_EQ(window.scrollOffset(), kStepsContentHeight - client);
    EXPECT_EQ(window.scrollBar()->value(), window.scrollOffset());
    auto* last = window.findChild<QLabel*>("stepPicture10");
    const QPoint lastTop = last->mapTo(viewport(window), QPoint(0, 0));
    EXPECT_GE(lastTop.y(), 0);
    EXPECT_LE(lastTop.y() + last->height(), client);

    // Letting the thumb go at the top brings the first step back.
    window.scroll(ScrollCode::thumbPosition, 0);
    EXPECT_EQ(window.scrollOffset(), 0);
    EXPECT_EQ(window.content()->y(), 0);
}

TEST_F(DownloadStepsWindowTest, ResizeResetsTheBarButKeepsTheOffset) {
    DownloadStepsWindow window;
    window.show();
    QCoreApplication::processEvents();
    window.scroll(ScrollCode::pageDown);
    const int offset = window.scrollOffset();
    ASSERT_GT(offset, 0);
    window.resize(window.width(), window.height() - 50);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.scrollOffset(), offset);
    EXPECT_EQ(window.scrollBar()->value(), 0);
    EXPECT_EQ(window.scrollBar()->maximum(), kStepsContentHeight - window.clientHeight());
}

TEST_F(DownloadStepsWindowTest, DownloadIsOkAndCancelOrEscapeIsCancel) {
    const struct {
        const char* way;
        int button;  // 0: Escape
        int result;
    } cases[] = {{"DOWNLOAD", DownloadStepsWindow::kDownload, QDialog::Accepted},
                 {"CANCEL", DownloadStepsWindow::kCancel, QDialog::Rejected},
                 {"Escape", 0, QDialog::Rejected}};
    for (const auto& c : cases) {
        DownloadStepsWindow window;
        window.show();
        if (c.button != 0) {
            EXPECT_EQ(static_cast<QPushButton*>(window.control(c.button))->text(), c.way);
            click(window.control(c.button));
        } else {
            QTest::keyClick(&window, Qt::Key_Escape);
        }
        EXPECT_FALSE(window.isVisible()) << c.way;
        EXPECT_EQ(window.result(), c.result) << c.way;
    }
}

}  // namespace
}  // namespace korvane
