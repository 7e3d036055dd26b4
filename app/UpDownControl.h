#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace korvane {

// A spin control beside an edit field that the operator may still type any
// text into: the arrows (and the Up/Down keys in the field) read the field's
// number, step it within the range and write it back.
class UpDownControl : public QWidget {
    Q_OBJECT
public:
    UpDownControl(QLineEdit* buddy, QWidget* parent = nullptr);

    void setRange(int lowest, int highest);
    int lowest() const { return lowest_; }
    int highest() const { return highest_; }

    // Moves the buddy's number by `steps`, clamped to the range. Text that is
    // not a number counts as the lowest value.
    void step(int steps);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int lowest_ = 0;
    int highest_ = 100;
};

}  // namespace korvane
