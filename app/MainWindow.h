#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/InstallationConfig.h"
#include "workflows/LoadStation.h"

class QButtonGroup;
class QLineEdit;
class QPushButton;

namespace korvane {

class UpDownControl;

// The operator's only screen: the settings group (COM port, connection type)
// and one button per pad model. The model buttons appear only once the
// security services have started, since no load could reach the server
// without them.
class MainWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kReadyTitle = "Korvane Brimlet Hosted Field Loader";
    static constexpr const char* kInitialTitle = "S";
    static constexpr const char* kStartingText = "Starting Cryptographic Service Provider ... ";
    static constexpr const char* kSspiFailedMessage =
        "Could Not Start SSPI \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";
    static constexpr const char* kCryptoFailedMessage =
        "Could Not Initialize Crypto \r\nEnsure that 128 bit encryption is installed.- FATAL Error!!";

    // Control ids of the window, as scripts and tests find them ("ctl<id>").
    enum ControlId : int {
        kExit = 1,
        kComPortEdit = 1016,
        kComPortUpDown = 1018,
        kComPortLabel = 1019,
        kConnectionLabel = 1020,
        kSerialRadio = 1011,
        kUsbRadio = 1012,
        kDisableBinWhitelist = 1021,
    };

    explicit MainWindow(QWidget* parent = nullptr);

    // The data-exchange members: put into the controls when the window opens,
    // taken back only when the operator leaves through "Exit".
    std::string comPortText;
    int connectionType = -1;  // 0 Serial, 1 USB, -1 none chosen
    bool deferredInitDone = false;
    uint32_t cacheStamp;
    int lastLoadedVariant = 0;

    // The installation's configuration once the start-up step has read it.
    const std::optional<InstallationConfig>& installationConfig() const { return installationConfig_; }
    int startupStepRuns() const { return startupStepRuns_; }

    QWidget* control(int id) const;
    // What a press reads: the port field, the radio buttons, the check box.
    StationControls currentControls() const;
    static QString controlName(int id) { return QString("ctl%1").arg(id); }

    // The fourteen Ingenico buttons in the order the start-up step shows them.
    static const int kIngenicoButtonsFirst[8];
    static const int kIngenicoButtonsSecond[6];
    // Wired with complete handlers, but never shown by this build.
    static const int kNeverShownButtons[4];

signals:
    // A model button was pressed; the workflows connect their handlers here.
    void modelButtonPressed(int controlId);

public slots:
    void showAboutBox();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildControls();
    void transferMembersToControls();
    void transferControlsToMembers();
    void runStartupStep();
    bool startSecurityServices();
    void showModelButtons(const int* ids, int count);

    QLineEdit* comPortEdit_;
    UpDownControl* comPortUpDown_;
    QButtonGroup* connectionGroup_;
    std::optional<InstallationConfig> installationConfig_;
    int startupStepRuns_ = 0;
    bool selectPortOnActivation_ = false;
};

}  // namespace korvane
