#pragma once

#include <QFrame>
#include <QPointer>

class QLabel;

namespace korvane {

// The borderless notice shown while the security services start, centred
// over its owner. It disables its owner while it exists and gives it back
// enabled only if it took it; it never takes the keyboard.
class PleaseWaitWindow : public QFrame {
    Q_OBJECT
public:
    explicit PleaseWaitWindow(QWidget* owner);
    ~PleaseWaitWindow() override;

    void setText(const QString& text);
    QString text() const;

private:
    QPointer<QWidget> owner_;
    bool ownerDisabled_ = false;
    QLabel* text_;
};

}  // namespace korvane
