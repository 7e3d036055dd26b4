#pragma once

#include <QDialog>

namespace korvane {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "About KorvaneFieldLoader";
    static constexpr const char* kMenuText = "&About KorvaneFieldLoader...";

    explicit AboutBox(QWidget* parent = nullptr);

    // The version line, e.g. "KorvaneFieldLoader Version 1.12".
    static QString versionLine();
};

}  // namespace korvane
