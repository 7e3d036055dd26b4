#include "app/PadLoaderApp.h"

#include "app/AppIcon.h"
#include "app/DesktopCommandLine.h"
#include "app/MainWindow.h"
#include "app/ModelButtonPress.h"
#include "app/MessageBox.h"
#include "app/SettingsFile.h"
#include "platform/InstanceLock.h"
#include "platform/TerminationSignal.h"

#include <QApplication>
#include <QSocketNotifier>
#include <strings.h>

namespace korvane {

bool PadLoaderApp::isInstanceCheckOnly(int argc, char** argv) {
    return argc > 1 && argv[1] != nullptr && ::strcasecmp(argv[1], "-i") == 0;
}

int PadLoaderApp::run(int argc, char** argv) {
    if (const std::optional<int> status = answerInformationRequest(argc, argv)) return *status;

    // First, so a SIGTERM that arrives once the lock is held closes the window
    // the orderly way.
    const int signalPipe = installTerminationSignalPipe();

    InstanceLock lock;
    if (!lock.acquire()) {
        QApplication application(argc, argv);
        showMessage(nullptr, kSecondInstanceMessage);
        return 1;
    }
    if (isInstanceCheckOnly(argc, argv)) return 0;

    QApplication application(argc, argv);
    application.setApplicationName("KorvaneFieldLoader");
    application.setWindowIcon(appIcon());

    MainWindow window;
    connectModelButtons(window);
    const SettingsFile settings;
    window.comPortText = settings.load();

    QSocketNotifier* terminate = nullptr;
    if (signalPipe >= 0) {
        terminate = new QSocketNotifier(signalPipe, QSocketNotifier::Read, &window);
        QObject::connect(terminate, &QSocketNotifier::activated, &window, [&window, signalPipe] {
            takeTerminationSignal(signalPipe);
            // As the window's close button: the dialog ends without taking the controls' values.
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top != &window && top->isModal() && top->isVisible()) top->close();
            window.reject();
        });
    }

    window.exec();
    if (!settings.save(window.comPortText)) showMessage(nullptr, SettingsFile::kWriteFailedMessage);
    return 0;
}

}  // namespace korvane
