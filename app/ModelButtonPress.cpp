#include "app/ModelButtonPress.h"

#include "app/MainWindow.h"
#include "app/QtOperator.h"
#include "workflows/LoadStation.h"
#include "workflows/ModelButtons.h"
#include "workflows/ModelSelection.h"


namespace korvane {

void connectModelButtons(MainWindow& window) {
    QObject::connect(&window, &MainWindow::modelButtonPressed, &window, [&window](int controlId) {
        const ModelButton* button = findModelButton(controlId);
        // Without a configuration the buttons stay hidden; a press cannot come.
        if (button == nullptr || !window.installationConfig()) return;
        QtOperator op(&window);
        LoadStation station{op, *window.installationConfig(), window.currentControls(), window.cacheStamp,
                            window.lastLoadedVariant, std::nullopt};
        pressModelButton(station, *button);
    });
}

}  // namespace korvane
