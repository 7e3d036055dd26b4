#include "app/PciVersionPrompt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvane {
namespace {
QString controlName(int id) { return QString("ctl%1").arg(id); }
}  // namespace

PciVersionPrompt::PciVersionPrompt(QWidget* parent) : QDialog(parent) {
    setObjectName("pciVersionPrompt");
    setWindowTitle(kTitle);
    auto* layout = new QVBoxLayout(this);
    for (const char* line : {kQuestion, kExample, kOtherwise}) {
        auto* text = new QLabel(line, this);
        text->setWordWrap(true);
        layout->addWidget(text);
    }
    auto* v3 = new QPushButton("V3", this);
    v3->setObjectName(controlName(kV3));
    connect(v3, &QPushButton::clicked, this, [this] {
        v4Chosen = false;
        accept();
    });
    auto* v4 = new QPushButton("V4", this);
    v4->setObjectName(controlName(kV4));
    connect(v4, &QPushButton::clicked, this, [this] {
        v4Chosen = true;
        accept();
    });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(v3);
    buttons->addWidget(v4);
    buttons->addStretch();
    layout->addLayout(buttons);
    setMinimumWidth(500);
}

QWidget* PciVersionPrompt::control(int id) const { return findChild<QWidget*>(controlName(id)); }

void PciVersionPrompt::showEvent(QShowEvent* event) {
    v4Chosen = false;
    QDialog::showEvent(event);
}

}  // namespace korvane
