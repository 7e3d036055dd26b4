#include "app/AboutBox.h"

#include "app/AppIcon.h"
#include "platform/Version.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvane {

QString AboutBox::versionLine() { return QString("KorvaneFieldLoader Version %1").arg(kProgramVersion); }

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutBox");
    setWindowTitle(kTitle);
    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon().pixmap(32, 32));
    auto* version = new QLabel(versionLine(), this);
    version->setObjectName("aboutVersion");
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("ctl1");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(version, 1);
    row->addWidget(ok, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    setFixedSize(sizeHint());
}

}  // namespace korvane
