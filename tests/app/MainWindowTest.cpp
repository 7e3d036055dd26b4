#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/PleaseWaitWindow.h"
#include "app/UpDownControl.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace korvane {
namespace {

constexpr char kConfig[] =
    "[load-server]\nprimary-host = 127.0.0.1\nsecondary-host = 127.0.0.1\nport = 4443\n"
    "installation-serial = 0100-2200-33\nchallenge-secret = ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456\n";

const int kSettingsControls[] = {1019, 1016, 1018, 1020, 1011, 1012, 1};
const int kAllModelControls[] = {1001, 1013, 1004, 1005, 1006, 1014, 1008, 1010, 1015, 1017,
                                 1022, 1023, 1025, 1026, 1002, 1003, 1009, 1007, 1021};

bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Records the order in which the model buttons are shown and enabled.
class VisibilityRecorder : public QObject {
public:
    std::vector<std::pair<int, char>> events;  // (id, 's'how / 'e'nable)
    bool eventFilter(QObject* watched, QEvent* event) override {
        const int id = watched->objectName().mid(3).toInt();
        if (event->type() == QEvent::Show) events.emplace_back(id, 's');
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
            events.emplace_back(id, 'e');
        return false;
    }
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.write("loader.conf", kConfig, 0600);
        ::setenv("KORVANE_LOADER_CONFIG", dir_.file("loader.conf").c_str(), 1);
        ::unsetenv("OPENSSL_MODULES");
        ::setenv("KORVANE_UNATTENDED", "1", 1);  // nobody presses OK here
        setMessageObserver([this](const std::string& text) { messages_.push_back(text); });
    }
    void TearDown() override {
        setMessageObserver(nullptr);
        ::unsetenv("OPENSSL_MODULES");
        ::unsetenv("KORVANE_LOADER_CONFIG");
    }

    // Opens the window as the program does and lets the start-up step run.
    void open(MainWindow& window) {
        window.show();
        ASSERT_TRUE(processEventsUntil([&] { return window.startupStepRuns() == 1; }));
        ASSERT_TRUE(processEventsUntil([&] { return window.isEnabled(); }));
    }

    bool visible(MainWindow& window, int id) { return !window.control(id)->isHidden(); }

    test::TempDir dir_;
    std::vector<std::string> messages_;
};

TEST_F(MainWindowTest, ReadyWindowShowsTheFourteenIngenicoButtonsInOrderOnce) {
    MainWindow window;
    window.comPortText = "7";
    VisibilityRecorder recorder;
    for (int id : kAllModelControls) window.control(id)->installEventFilter(&recorder);
    EXPECT_EQ(window.windowTitle(), "S");
    for (int id : kAllModelControls) {
        EXPECT_FALSE(visible(window, id)) << id;
        EXPECT_FALSE(window.control(id)->isEnabled()) << id;
    }

    open(window);
    EXPECT_TRUE(messages_.empty()) << messages_.front();
    EXPECT_EQ(window.windowTitle(), "Korvane Brimlet Hosted Field Loader");
    for (int i = 0; i < 14; ++i) {
        EXPECT_TRUE(visible(window, kAllModelControls[i])) << kAllModelControls[i];
        EXPECT_TRUE(window.control(kAllModelControls[i])->isEnabled()) << kAllModelControls[i];
    }
    for (int id : {1002, 1003, 1007, 1009, 1021}) {
        EXPECT_FALSE(visible(window, id)) << id;
        EXPECT_FALSE(window.control(id)->isEnabled()) << id;
    }
    std::vector<std::pair<int, char>> expected;
    for (const int* group : {MainWindow::kIngenicoButtonsFirst, MainWindow::kIngenicoButtonsSecond}) {
        const int count = group == MainWindow::kIngenicoButtonsFirst ? 8 : 6;
        for (int i = 0; i < count; ++i) expected.emplace_back(group[i], 's');
        for (int i = 0; i < count; ++i) expected.emplace_back(group[i], 'e');
    }
    EXPECT_EQ(recorder.events, expected);
    EXPECT_EQ(static_cast<QAbstractButton*>(window.control(1001))->text(), "Ingenico iSC250 ");
    EXPECT_EQ(static_cast<QLineEdit*>(window.control(1016))->text(), "7");
    EXPECT_FALSE(static_cast<QRadioButton*>(window.control(1011))->isChecked());
    EXPECT_FALSE(static_cast<QRadioButton*>(window.control(1012))->isChecked());
    ASSERT_TRUE(window.installationConfig().has_value());
    EXPECT_EQ(window.installationConfig()->port, 4443);

    // The loop goes idle again and again, and the window may be shown anew: the step stays done.
    window.hide();
    window.show();
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(window.startupStepRuns(), 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(window.findChild<QWidget*>("pleaseWaitWindow"), nullptr);
}

TEST_F(MainWindowTest, ReadyWindowGivesThePortFieldTheKeyboardWithItsTextSelected) {
    MainWindow window;
    window.comPortText = "1";
    open(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* edit = static_cast<QLineEdit*>(window.control(MainWindow::kComPortEdit));
    EXPECT_TRUE(processEventsUntil([&] { return QApplication::focusWidget() == edit; }));
    EXPECT_EQ(edit->selectedText(), "1");
    // Typed at the window, as the window system delivers keys.
    QTest::keyClick(window.windowHandle(), '7');
    QTest::keyClick(window.windowHandle(), Qt::Key_Return);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(window.comPortText, "7");
}

// The same under a real X server (a virtual one), where focus and activation
// are the window system's: this binary runs itself there for that one test.
TEST(MainWindowUnderX, ReadyWindowGivesThePortFieldTheKeyboard) {
    if (std::getenv("KORVANE_UNDER_XVFB") != nullptr) GTEST_SKIP() << "already under the X server";
    std::string xvfbRun;
    for (const char* dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (::access((std::string(dir) + "/xvfb-run").c_str(), X_OK) == 0) xvfbRun = std::string(dir) + "/xvfb-run";
    if (xvfbRun.empty()) GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb)";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    // Two findings of the sanitizers in the X platform's own libraries are let
    // pass, nothing else: D-Bus keeps a buffer to the end, and the X keyboard
    // library hands strndup an unterminated name, which strict string checks
    // take for an overflow.
    test::TempDir dir;
    dir.write("lsan.supp", "leak:libdbus-1.so\n", 0600);
    const char* asan = std::getenv("ASAN_OPTIONS");
    test::ChildProcess::Options options;
    options.env = {{"QT_QPA_PLATFORM", "xcb"},
                   {"KORVANE_UNDER_XVFB", "1"},
                   {"LSAN_OPTIONS", "suppressions=" + dir.file("lsan.supp")},
                   {"ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":strict_string_checks=0"}};
    test::ChildProcess child(
        xvfbRun,
        {"-a", self, "--gtest_filter=MainWindowTest.ReadyWindowGivesThePortFieldTheKeyboardWithItsTextSelected"},
        options);
    const int status = child.waitForExit(120000);
    const std::string output = child.standardOutput() + child.standardError();
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

TEST(PleaseWaitWindowTest, DrawsNormallyOverTheWindowItDisables) {
    QDialog owner;
    owner.setGeometry(100, 80, 600, 440);
    owner.show();
    {
        PleaseWaitWindow pleaseWait(&owner);
        pleaseWait.setText(MainWindow::kStartingText);
        QCoreApplication::processEvents();
        EXPECT_FALSE(owner.isEnabled());
        EXPECT_TRUE(pleaseWait.isVisible());
        EXPECT_TRUE(pleaseWait.isEnabled());
        for (const QLabel* label : pleaseWait.findChildren<QLabel*>())
            EXPECT_TRUE(label->isEnabled()) << label->text().toStdString();
        const QPoint centre = pleaseWait.frameGeometry().center(), ownerCentre = owner.frameGeometry().center();
        EXPECT_LE(std::abs(centre.x() - ownerCentre.x()), 2);
        EXPECT_LE(std::abs(centre.y() - ownerCentre.y()), 2);
    }
    EXPECT_TRUE(owner.isEnabled());
}

TEST_F(MainWindowTest, WithoutRc4OnlyTheSettingsAndExitShowAndCryptoFailsOnce) {
    ::setenv("OPENSSL_MODULES", dir_.file("no-providers").c_str(), 1);
    MainWindow window;
    open(window);
    EXPECT_EQ(window.windowTitle(), "S");
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], MainWindow::kCryptoFailedMessage);
    for (int id : kAllModelControls) EXPECT_FALSE(visible(window, id)) << id;
    for (int id : kSettingsControls) EXPECT_TRUE(visible(window, id)) << id;
    EXPECT_TRUE(window.isEnabled()) << "the please-wait window gives the window back";
}

TEST_F(MainWindowTest, BadConfigurationIsNamedAndKeepsTheButtonsHidden) {
    dir_.write("loader.conf", "[load-server]\nprimary-host = a\nsecondary-host = b\nport = 0\n", 0600);
    MainWindow window;
    open(window);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find(dir_.file("loader.conf")), std::string::npos) << messages_[0];
    EXPECT_NE(messages_[0].find("\"installation-serial\""), std::string::npos) << messages_[0];
    EXPECT_EQ(window.windowTitle(), "S");
    for (int id : kAllModelControls) EXPECT_FALSE(visible(window, id)) << id;
}

TEST_F(MainWindowTest, OnlyExitOrEnterTakeTheTypedValues) {
    enum class Leave { ExitButton, EnterKey, EscapeKey, CloseButton };
    for (Leave leave : {Leave::ExitButton, Leave::EnterKey, Leave::EscapeKey, Leave::CloseButton}) {
        MainWindow window;
        window.comPortText = "3";
        open(window);
        auto* edit = static_cast<QLineEdit*>(window.control(1016));
        edit->setText("12");
        static_cast<QRadioButton*>(window.control(1012))->setChecked(true);
        edit->setFocus();
        switch (leave) {
        case Leave::ExitButton: static_cast<QAbstractButton*>(window.control(1))->click(); break;
        case Leave::EnterKey: QTest::keyClick(edit, Qt::Key_Return); break;
        case Leave::EscapeKey: QTest::keyClick(edit, Qt::Key_Escape); break;
        case Leave::CloseButton: window.close(); break;
        }
        const bool transfers = leave == Leave::ExitButton || leave == Leave::EnterKey;
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.result(), transfers ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(window.comPortText, transfers ? "12" : "3") << static_cast<int>(leave);
        EXPECT_EQ(window.connectionType, transfers ? 1 : -1) << static_cast<int>(leave);
    }
}

TEST_F(MainWindowTest, UpDownStepsThePortWithinOneTo255AndLeavesTypingFree) {
    MainWindow window;
    open(window);
    auto* edit = static_cast<QLineEdit*>(window.control(1016));
    auto* upDown = static_cast<UpDownControl*>(window.control(1018));
    EXPECT_EQ(upDown->lowest(), 1);
    EXPECT_EQ(upDown->highest(), 255);
    struct Case {
        const char* start;
        Qt::Key key;
        const char* after;
    };
    const Case cases[] = {{"254", Qt::Key_Up, "255"}, {"255", Qt::Key_Up, "255"}, {"2", Qt::Key_Down, "1"},
                          {"1", Qt::Key_Down, "1"},   {"900", Qt::Key_Down, "255"}, {"abc", Qt::Key_Up, "1"}};
    for (const Case& c : cases) {
        edit->setText(c.start);
        QTest::keyClick(edit, c.key);
        EXPECT_EQ(edit->text(), c.after) << c.start;
    }
    QTest::keyClicks(edit, "x");
    EXPECT_EQ(edit->text(), "1x") << "the field takes any text";
}

TEST_F(MainWindowTest, AboutBoxOpensFromF1AndFromTheContextMenu) {
    MainWindow window;
    open(window);
    QString title, version;
    int seen = 0;
    // Closes the About box once it is up, noting what it showed.
    QTimer watcher;
    watcher.setInterval(5);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* about = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
        if (about == nullptr) return;
        ++seen;
        title = about->windowTitle();
        version = about->findChild<QWidget*>("aboutVersion")->property("text").toString();
        static_cast<QAbstractButton*>(about->findChild<QWidget*>("ctl1"))->click();
    });
    watcher.start();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(title, "About KorvaneFieldLoader");
    EXPECT_EQ(version, "KorvaneFieldLoader Version 1.12");

    // The context menu: pick its only item.
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), "&About KorvaneFieldLoader...");
        menu->actions()[0]->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), window.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&window, &event);
    EXPECT_EQ(seen, 2);
}

}  // namespace
}  // namespace korvane
