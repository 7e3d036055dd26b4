#include "app/ComPortPrompt.h"

#include "app/MessageBox.h"
#include "app/UpDownControl.h"
#include "pad/SerialPort.h"
#include "job/DecimalValue.h"
#include "workflows/PortCheck.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvane {
namespace {
QString controlName(int id) { return QString("ctl%1").arg(id); }
}  // namespace

ComPortPrompt::ComPortPrompt(SerialPort& port, QWidget* parent) : QDialog(parent), port_(port) {
    setObjectName("comPortPrompt");
    setWindowTitle(kTitle);
    auto* text = new QLabel(kText, this);
    text->setWordWrap(true);
    auto* label = new QLabel(kPortLabel, this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(controlName(kPortEdit));
    edit_->setMaximumWidth(60);
    label->setBuddy(edit_);
    upDown_ = new UpDownControl(edit_, this);
    upDown_->setObjectName(controlName(kPortUpDown));
    upDown_->setRange(1, 255);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName(controlName(kOk));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &ComPortPrompt::accept);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName(controlName(kCancel));
    connect(cancel, &QPushButton::clicked, this, &ComPortPrompt::reject);

    auto* portRow = new QHBoxLayout;
    portRow->setSpacing(0);
    portRow->addWidget(label);
    portRow->addSpacing(8);
    portRow->addWidget(edit_);
    portRow->addWidget(upDown_);
    portRow->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(portRow);
    layout->addLayout(buttons);
    setMinimumWidth(380);
}

QWidget* ComPortPrompt::control(int id) const { return findChild<QWidget*>(controlName(id)); }

void ComPortPrompt::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    edit_->setText(QString::fromLatin1(portText.c_str()));
    edit_->setFocus();
    edit_->selectAll();
}

void ComPortPrompt::accept() {
    const QByteArray text = edit_->text().toLatin1();
    portText.assign(text.constData(), static_cast<std::size_t>(text.size()));
    chosenPort = decimalValue(portText);
    std::string error;
    if (!reopenLoadPort(port_, chosenPort, error)) {
        showMessage(this, error);
        return;
    }
    QDialog::accept();
}

void ComPortPrompt::reject() {
    // The load then sees a closed port and reports that the pad could not be reached.
    port_.close();
    QDialog::reject();
}

}  // namespace korvane
