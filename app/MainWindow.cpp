#include "app/MainWindow.h"

#include "app/AboutBox.h"
#include "app/AppIcon.h"
#include "app/MessageBox.h"
#include "app/PleaseWaitWindow.h"
#include "app/UpDownControl.h"
#include "platform/Tick.h"
#include "platform/TimingTable.h"
#include "server/ChallengeCipher.h"
#include "workflows/ModelButtons.h"
#include "server/SecurityInterface.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <cstdio>

namespace korvane {
namespace {

constexpr int kModelColumns = 4;

}  // namespace

const int MainWindow::kIngenicoButtonsFirst[8] = {1001, 1004, 1005, 1006, 1014, 1008, 1013, 1010};
const int MainWindow::kIngenicoButtonsSecond[6] = {1015, 1017, 1022, 1023, 1025, 1026};
const int MainWindow::kNeverShownButtons[4] = {1002, 1003, 1007, 1009};

MainWindow::MainWindow(QWidget* parent) : QDialog(parent), cacheStamp(tickCount()) {
    setObjectName("mainWindow");
    setWindowTitle(kInitialTitle);
    setWindowIcon(appIcon());
    buildControls();
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &MainWindow::showAboutBox);
}

void MainWindow::buildControls() {
    auto* settings = new QGroupBox("Settings", this);
    auto* portLabel = new QLabel("PC Comm Port:", settings);
    portLabel->setObjectName(controlName(kComPortLabel));
    comPortEdit_ = new QLineEdit(settings);
    comPortEdit_->setObjectName(controlName(kComPortEdit));
    comPortEdit_->setMaximumWidth(60);
    comPortUpDown_ = new UpDownControl(comPortEdit_, settings);
    comPortUpDown_->setObjectName(controlName(kComPortUpDown));
    comPortUpDown_->setRange(1, 255);
    portLabel->setBuddy(comPortEdit_);

    auto* connectionLabel = new QLabel("Device connected by:", settings);
    connectionLabel->setObjectName(controlName(kConnectionLabel));
    auto* serial = new QRadioButton("Serial", settings);
    serial->setObjectName(controlName(kSerialRadio));
    auto* usb = new QRadioButton("USB", settings);
    usb->setObjectName(controlName(kUsbRadio));
    connectionGroup_ = new QButtonGroup(this);
    connectionGroup_->addButton(serial, 0);
    connectionGroup_->addButton(usb, 1);

    auto* settingsLayout = new QGridLayout(settings);
    auto* portRow = new QHBoxLayout;
    portRow->setSpacing(0);
    portRow->addWidget(comPortEdit_);
    portRow->addWidget(comPortUpDown_);
    portRow->addStretch();
    settingsLayout->addWidget(portLabel, 0, 0);
    settingsLayout->addLayout(portRow, 0, 1);
    settingsLayout->addWidget(connectionLabel, 0, 2);
    settingsLayout->addWidget(serial, 0, 3);
    settingsLayout->addWidget(usb, 0, 4);
    settingsLayout->setColumnStretch(5, 1);

    auto* models = new QGridLayout;
    int index = 0;
    // In the template's order: four columns of Ingenico buttons, then the rows
    // this build never shows.
    for (const ModelButton& model : modelButtons()) {
        auto* button = new QPushButton(QString::fromLatin1(model.caption.data(), static_cast<qsizetype>(model.caption.size())), this);
        button->setObjectName(controlName(model.controlId));
        button->setVisible(false);
        button->setEnabled(false);
        const int id = model.controlId;
        connect(button, &QPushButton::clicked, this, [this, id] { emit modelButtonPressed(id); });
        models->addWidget(button, index / kModelColumns, index % kModelColumns);
        ++index;
    }
    auto* whitelist = new QCheckBox("Disable BIN Whitelist", this);
    whitelist->setObjectName(controlName(kDisableBinWhitelist));
    whitelist->setVisible(false);
    whitelist->setEnabled(false);
    models->addWidget(whitelist, index / kModelColumns, index % kModelColumns);

    auto* exit = new QPushButton("Exit", this);
    exit->setObjectName(controlName(kExit));
    exit->setDefault(true);
    connect(exit, &QPushButton::clicked, this, [this] {
        transferControlsToMembers();
        accept();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(settings);
    layout->addLayout(models);
    layout->addStretch();
    layout->addWidget(exit, 0, Qt::AlignHCenter);
    resize(560, 330);
}

QWidget* MainWindow::control(int id) const { return findChild<QWidget*>(controlName(id)); }

void MainWindow::transferMembersToControls() {
    comPortEdit_->setText(QString::fromLatin1(comPortText.data(), static_cast<qsizetype>(comPortText.size())));
    if (connectionType < 0) {
        // An exclusive group cannot uncheck its last button; lift it briefly.
        connectionGroup_->setExclusive(false);
        for (QAbstractButton* button : connectionGroup_->buttons()) button->setChecked(false);
        connectionGroup_->setExclusive(true);
    } else if (QAbstractButton* button = connectionGroup_->button(connectionType)) {
        button->setChecked(true);
    }
}

void MainWindow::transferControlsToMembers() {
    const QByteArray text = comPortEdit_->text().toLatin1();
    comPortText.assign(text.constData(), static_cast<std::size_t>(text.size()));
    connectionType = connectionGroup_->checkedId();
}

StationControls MainWindow::currentControls() const {
    StationControls controls;
    const QByteArray text = comPortEdit_->text().toLatin1();
    controls.comPortText.assign(text.constData(), static_cast<std::size_t>(text.size()));
    const int checked = connectionGroup_->checkedId();
    controls.connection = checked == 0 ? ConnectionType::serial : checked == 1 ? ConnectionType::usb : ConnectionType::none;
    const auto* whitelist = qobject_cast<const QCheckBox*>(control(kDisableBinWhitelist));
    controls.disableBinWhitelist = whitelist != nullptr && whitelist->isChecked();
    return controls;
}

void MainWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (deferredInitDone) return;
    deferredInitDone = true;
    transferMembersToControls();
    // Runs once the window is on screen and the event loop is idle.
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(QEvent::User + 1)));
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(QEvent::User + 1)) {
        runStartupStep();
        return true;
    }
    return QDialog::event(event);
}

void MainWindow::runStartupStep() {
    ++startupStepRuns_;
    bool started = false;
    {
        PleaseWaitWindow pleaseWait(this);
        pleaseWait.setText(kStartingText);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        sleepMs(50);
        started = startSecurityServices();
        QApplication::restoreOverrideCursor();
    }
    // Disabled under the please-wait window, the dialog lost its focus: a
    // dialog gives it to its first tab stop, the port field, ready for typing.
    activateWindow();
    comPortEdit_->setFocus(Qt::OtherFocusReason);
    comPortEdit_->selectAll();
    // Until the window system has activated the window, the selection may be
    // dropped on the way; it is made again once the window is active.
    selectPortOnActivation_ = !isActiveWindow();
    if (!started) return;
    const TimingTable& timing = TimingTable::instance();
    QString title = kReadyTitle;
    if (!timing.notice().empty()) title += " - " + QString::fromStdString(timing.notice());
    setWindowTitle(title);
    showModelButtons(kIngenicoButtonsFirst, 8);
    showModelButtons(kIngenicoButtonsSecond, 6);
}

bool MainWindow::startSecurityServices() {
    const InstallationConfigResult loaded = loadInstallationConfig(locateInstallationConfig());
    for (const std::string& warning : loaded.warnings) std::fprintf(stderr, "warning: %s\n", warning.c_str());
    if (!loaded.ok) {
        showMessage(this, loaded.error);
        return false;
    }
    installationConfig_ = loaded.config;
    if (!SecurityInterface::processWide().Initialise()) {
        showMessage(this, kSspiFailedMessage);
        return false;
    }
    if (!ChallengeCipher::processWide().Initialise(loaded.config.challengeSecret)) {
        showMessage(this, kCryptoFailedMessage);
        return false;
    }
    return true;
}

void MainWindow::showModelButtons(const int* ids, int count) {
    for (int i = 0; i < count; ++i) control(ids[i])->setVisible(true);
    for (int i = 0; i < count; ++i) control(ids[i])->setEnabled(true);
}

void MainWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !selectPortOnActivation_ || !isActiveWindow()) return;
    selectPortOnActivation_ = false;
    // Activation comes before the focus moves in: ask where the focus will be.
    if (focusWidget() == comPortEdit_) comPortEdit_->selectAll();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(AboutBox::kMenuText, this, &MainWindow::showAboutBox);
    menu.exec(event->globalPos());
}

void MainWindow::showAboutBox() {
    AboutBox about(this);
    about.exec();
}

}  // namespace korvane
