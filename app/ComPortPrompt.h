#pragma once

#include "app/PromptTexts.h"

#include <QDialog>
#include <string>

class QLineEdit;

namespace korvane {

class SerialPort;
class UpDownControl;

// Asked when the pad did not answer after its restart: the operator confirms
// the cable and may give the new port number. OK reopens the load's port on
// that number and keeps the operator here until a valid port opens or Cancel.
class ComPortPrompt : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = prompt_texts::kComPortTitle;
    static constexpr const char* kText = prompt_texts::kComPortText;
    static constexpr const char* kPortLabel = prompt_texts::kComPortLabel;

    enum ControlId : int { kOk = 1, kCancel = 2, kPortUpDown = 1014, kPortEdit = 1015 };

    explicit ComPortPrompt(SerialPort& port, QWidget* parent = nullptr);

    // The data-exchange members: the field's text and the number OK took from it.
    std::string portText = "1";
    int chosenPort = 0;

    QWidget* control(int id) const;

public slots:
    // OK: the port is reopened, or the reason is shown and the prompt stays.
    void accept() override;
    // Cancel, Escape and the close button: the load's port is left closed.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    SerialPort& port_;
    QLineEdit* edit_;
    UpDownControl* upDown_;
};

}  // namespace korvane
