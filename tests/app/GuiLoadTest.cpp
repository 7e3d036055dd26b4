// Whole iPP350 loads through the desktop window: the window wired as the
// program wires it, the reference load server and the pad simulator as real
// processes, the clicks made on the window's own controls.
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/ModelButtonPress.h"
#include "app/ProgressWindow.h"
#include "tests/e2e/EquinoxPackages.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tests/tools/LoadServerHarness.h"
#include "tests/tools/PadSimHarness.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane {
namespace {

constexpr int kIpp350Button = 1006;
constexpr int kEquinoxButton = 1002;  // never shown, but wired
constexpr int kVx805EthernetButton = 1003;  // never shown either
constexpr int kP400Button = 1007;
// Short enough for a load with its restart and reboot waits to take seconds;
// the pad's install, restart and reboot times are matched to it.
constexpr char kWaitScale[] = "0.001";
constexpr char kAppFileOnPad[] = "RBAIPP350.OGZ";  // the sample iPP350_RBA's info-file-name

bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The load server with the sample packages, a simulated iPP350 on COM 1 and
// an installation configuration naming the server, for this process.
class LoadBench {
public:
    explicit LoadBench(const std::vector<std::string>& padOptions) {
        // The server reads its index for every request, so the sample folder
        // can replace the harness's own packages now.
        const std::string packages = server.folder().file("packages");
        std::filesystem::remove_all(packages);
        test::ChildProcess maker("/bin/sh", {KORVANE_SAMPLE_PACKAGES_SCRIPT, packages});
        if (maker.waitForExit(60000) != 0)
            throw std::runtime_error("make-sample-packages.sh failed: " + maker.standardError());

        folder.write("loader.conf",
                     "[load-server]\nprimary-host = 127.0.0.1\nsecondary-host = 127.0.0.1\nport = " +
                         std::to_string(server.port()) + "\ninstallation-serial = 0100-2200-33\nchallenge-secret = " +
                         test::kSecret + "\n",
                     0600);
        ::setenv("KORVANE_LOADER_CONFIG", folder.file("loader.conf").c_str(), 1);

        std::vector<std::string> args = {"--model",        "iPP350", "--app-version",  "2301",
                                         "--install-time", "200",    "--restart-time", "100",
                                         "--reboot-time",  "100"};
        args.insert(args.end(), padOptions.begin(), padOptions.end());
        pad = std::make_unique<test::PadSimProcess>(args);
        if (!pad->ready()) throw std::runtime_error("korvane-pad-sim did not start: " + pad->output());
    }
    ~LoadBench() { ::unsetenv("KORVANE_LOADER_CONFIG"); }

    test::ServerProcess server;
    test::TempDir folder;
    std::unique_ptr<test::PadSimProcess> pad;
};

std::vector<ProgressWindow*> shownProgressWindows() {
    std::vector<ProgressWindow*> shown;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* progress = qobject_cast<ProgressWindow*>(top); progress != nullptr && progress->isVisible())
            shown.push_back(progress);
    return shown;
}

QString statusLine(const ProgressWindow& progress) {
    return static_cast<const QLabel*>(progress.control(ProgressWindow::kStatusLine))->text();
}

// Looks at the screen whenever the event loop turns, which it keeps doing
// inside the click while the load runs: the progress windows' titles and
// status lines, and whether the main window stays disabled under them.
class LoadWatcher {
public:
    explicit LoadWatcher(MainWindow& window) : window_(window) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start(0);
    }

    std::function<void(ProgressWindow&)> onEachLook;  // runs for every progress window shown
    std::vector<std::string> titles;
    std::vector<std::string> statusTexts;  // each text once, in the order first seen
    int looksWithProgress = 0;
    int looksWithMainEnabled = 0;  // of those, how many found the main window enabled

private:
    void look() {
        const std::vector<ProgressWindow*> shown = shownProgressWindows();
        if (shown.empty()) return;
        ++looksWithProgress;
        if (window_.isEnabled()) ++looksWithMainEnabled;
        // A press may stand one window over another; each has its own status line.
        for (ProgressWindow* progress : shown) {
            note(titles, progress->windowTitle().toStdString());
            const QString text = statusLine(*progress);
            if (!text.isEmpty()) note(statusTexts, text.toStdString());
            if (onEachLook) onEachLook(*progress);
        }
    }
    static void note(std::vector<std::string>& seen, const std::string& text) {
        if (std::find(seen.begin(), seen.end(), text) == seen.end()) seen.push_back(text);
    }

    MainWindow& window_;
    QTimer timer_;
};

bool anyStartsWith(const std::vector<std::string>& texts, const std::string& prefix, const std::string& containing) {
    return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
        return text.rfind(prefix, 0) == 0 && text.find(containing) != std::string::npos;
    });
}

std::string joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& text : texts) all += "[" + text + "] ";
    return all;
}

class GuiLoadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Before anything reads the timing table: it is read once per process.
        ::setenv("KORVANE_WAIT_SCALE", kWaitScale, 1);
        ::setenv("KORVANE_UNATTENDED", "1", 1);  // nobody presses OK here
        ::unsetenv("OPENSSL_MODULES");
    }
    void SetUp() override {
        setMessageObserver([this](const std::string& text) { messages.push_back(text); });
    }
    void TearDown() override { setMessageObserver(nullptr); }

    // The window as the program builds it, shown, its start-up step done, and
    // port 1 on Serial chosen by typing and clicking.
    void openAndChooseSerialPortOne(MainWindow& window) {
        connectModelButtons(window);
        window.show();
        ASSERT_TRUE(processEventsUntil(
            [&] { return window.control(kIpp350Button)->isVisible() && window.control(kIpp350Button)->isEnabled(); },
            30000))
            << joined(messages);
        auto* port = static_cast<QLineEdit*>(window.control(MainWindow::kComPortEdit));
        port->clear();
        QTest::keyClicks(port, "1");
        QTest::mouseClick(window.control(MainWindow::kSerialRadio), Qt::LeftButton);
        ASSERT_EQ(window.currentControls().comPortText, "1");
        ASSERT_EQ(window.currentControls().connection, ConnectionType::serial);
    }

    // The click returns once the load has ended.
    static void clickIpp350(MainWindow& window) {
        QTest::mouseClick(window.control(kIpp350Button), Qt::LeftButton);
    }

    std::vector<std::string> messages;
};

TEST_F(GuiLoadTest, ClickingIpp350LoadsThePadUnderTheProgressWindowAndReportsLoaded) {
    LoadBench bench({});
    MainWindow window;
    openAndChooseSerialPortOne(window);

    LoadWatcher watcher(window);
    clickIpp350(window);

    EXPECT_EQ(watcher.titles, std::vector<std::string>{"Processing . . ."});
    EXPECT_NE(std::find(watcher.statusTexts.begin(), watcher.statusTexts.end(), "Communicating with pad... "),
              watcher.statusTexts.end())
        << joined(watcher.statusTexts);
    EXPECT_TRUE(anyStartsWith(watcher.statusTexts, "Loading ", " block "))
        << joined(watcher.statusTexts);
    EXPECT_GT(watcher.looksWithProgress, 0);
    EXPECT_EQ(watcher.looksWithMainEnabled, 0) << "the main window was usable under the progress window";

    EXPECT_EQ(messages, std::vector<std::string>{"LOADED"});
    EXPECT_TRUE(window.isEnabled());
    EXPECT_TRUE(shownProgressWindows().empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(bench.pad->files.exists(kAppFileOnPad)) << bench.pad->output();

    // Stopped first, so every record is written.
    EXPECT_EQ(bench.server.stop(), 0) << bench.server.process().standardError();
    const test::Table loads = bench.server.show("--show-loads");
    ASSERT_EQ(loads.rows.size(), 1u);
    EXPECT_EQ(loads.at(0, "model"), "iPP350");
    EXPECT_EQ(loads.at(0, "outcome"), "LOADED");
}

// The pad's line paced as a cable, so the files take long enough to go to
// the pad for Cancel to be pressed while they do.
TEST_F(GuiLoadTest, CancelWhileFilesGoToThePadEndsTheLoadAndGivesTheWindowBack) {
    LoadBench bench({"--baud", "115200"});
    MainWindow window;
    openAndChooseSerialPortOne(window);

    LoadWatcher watcher(window);
    bool pressed = false;
    std::string pressedDuring;
    watcher.onEachLook = [&](ProgressWindow& progress) {
        const std::string text = statusLine(progress).toStdString();
        if (pressed || text.rfind("Loading ", 0) != 0) return;
        pressed = true;
        pressedDuring = text;
        QTest::mouseClick(progress.control(ProgressWindow::kCancel), Qt::LeftButton);
    };
    clickIpp350(window);

    ASSERT_TRUE(pressed) << joined(watcher.statusTexts);
    const bool canceled = std::any_of(messages.begin(), messages.end(), [](const std::string& text) {
        return text == "User canceled file load." || text == "User canceled file download.";
    });
    EXPECT_TRUE(canceled) << "Cancel during \"" << pressedDuring << "\"; messages: " << joined(messages);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "LOADED"), 0) << joined(messages);
    EXPECT_EQ(watcher.looksWithMainEnabled, 0);

    // Usable again: enabled, nothing over it, its controls take input.
    EXPECT_TRUE(window.isEnabled());
    EXPECT_TRUE(shownProgressWindows().empty());
    EXPECT_TRUE(window.control(kIpp350Button)->isEnabled());
    auto* port = static_cast<QLineEdit*>(window.control(MainWindow::kComPortEdit));
    QTest::keyClicks(port, "2");
    EXPECT_EQ(port->text(), "12");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The window never shows the Equinox button; a click made on it all the same
// (its clicked signal, as a message sent to a hidden control would be) runs
// the whole Equinox load.
TEST_F(GuiLoadTest, TheHiddenEquinoxButtonLoadsAnL5300WhenClickedProgrammatically) {
    LoadBench bench({"--model", "L5300-PCI2", "--app-version", "0012", "--restart-time", "0"});
    test::writeEquinoxPackages(bench.server.folder().file("packages"), test::equinoxSampleBundles());
    MainWindow window;
    openAndChooseSerialPortOne(window);
    auto* button = static_cast<QPushButton*>(window.control(kEquinoxButton));
    ASSERT_EQ(button->text(), "Equinox L5300 - Load FPE and Forms");
    EXPECT_FALSE(button->isVisible());

    LoadWatcher watcher(window);
    emit button->clicked();

    EXPECT_EQ(watcher.titles, std::vector<std::string>{"Processing . . ."});
    for (const char* status : {"Communicating with pad ... ", "Loading FPE...", "Loading Korvane Forms..."})
        EXPECT_NE(std::find(watcher.statusTexts.begin(), watcher.statusTexts.end(), status), watcher.statusTexts.end())
            << status << ": " << joined(watcher.statusTexts);
    EXPECT_GT(watcher.looksWithProgress, 0);
    EXPECT_EQ(watcher.looksWithMainEnabled, 0) << "the main window was usable under the progress window";

    EXPECT_EQ(messages, std::vector<std::string>{"LOADED"});
    EXPECT_TRUE(window.isEnabled());
    EXPECT_TRUE(shownProgressWindows().empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(button->isVisible());
    EXPECT_TRUE(bench.pad->files.exists("FORMS.K3Z")) << bench.pad->output();

    EXPECT_EQ(bench.server.stop(), 0) << bench.server.process().standardError();
    const test::Table loads = bench.server.show("--show-loads");
    ASSERT_EQ(loads.rows.size(), 1u);
    EXPECT_EQ(loads.at(0, "model"), "EQ_L5300_PCI2_SILVE2E");
    EXPECT_EQ(loads.at(0, "outcome"), "LOADED");
}

// The hidden Verifone buttons run their loads too: the pad is identified and
// put into download mode, the files go to the ddl.exe stand-in, first on
// PATH, in the program's working directory.
TEST_F(GuiLoadTest, TheHiddenVerifoneButtonsLoadWhenClickedProgrammatically) {
    const struct Case {
        int control;
        const char* caption;
        const char* padModel;
        const char* loadModel;
        const char* status;  // one status text the load shows long enough to be seen
    } cases[] = {
        {kVx805EthernetButton, "Verifone Vx805 - Load for Ethernet", "Vx805", "VX805_COMMSERVER",
         "Communicating with pad ... "},
        {kP400Button, "RQ's", "P400", "P400_RQ_SILENTD41", "Waiting for ADK install. Device will restart multiple times."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        messages.clear();
        LoadBench bench({"--model", c.padModel});
        test::TempDir work, record;
        const std::filesystem::path savedDirectory = std::filesystem::current_path();
        const std::string savedPath = std::getenv("PATH");
        std::filesystem::current_path(work.path());
        ::setenv("PATH", (std::string(KORVANE_DDL_DIR) + ":" + savedPath).c_str(), 1);
        ::setenv("KORVANE_DDL_RECORD", record.file("runs").c_str(), 1);
        std::filesystem::copy_file(bench.server.folder().file("packages/p400/KVP400SILENTD41.pkg"),
                                   work.file("KVP400SILENTD41.pkg"));

        MainWindow window;
        openAndChooseSerialPortOne(window);
        auto* button = static_cast<QPushButton*>(window.control(c.control));
        ASSERT_EQ(button->text(), c.caption);
        EXPECT_FALSE(button->isVisible());
        LoadWatcher watcher(window);
        emit button->clicked();

        std::filesystem::current_path(savedDirectory);
        ::setenv("PATH", savedPath.c_str(), 1);
        ::unsetenv("KORVANE_DDL_RECORD");

        EXPECT_EQ(messages, std::vector<std::string>{"LOADED"});
        EXPECT_NE(std::find(watcher.statusTexts.begin(), watcher.statusTexts.end(), c.status),
                  watcher.statusTexts.end())
            << joined(watcher.statusTexts);
        EXPECT_EQ(watcher.looksWithMainEnabled, 0);
        EXPECT_TRUE(window.isEnabled());
        EXPECT_TRUE(shownProgressWindows().empty());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_TRUE(std::filesystem::exists(record.file("runs/run-001/ended")));
        EXPECT_EQ(bench.server.stop(), 0) << bench.server.process().standardError();
        const test::Table loads = bench.server.show("--show-loads");
        ASSERT_EQ(loads.rows.size(), 1u);
        EXPECT_EQ(loads.at(0, "model"), c.loadModel);
        EXPECT_EQ(loads.at(0, "outcome"), "LOADED");
    }
}

}  // namespace
}  // namespace korvane
