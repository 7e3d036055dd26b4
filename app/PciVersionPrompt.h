#pragma once

#include "app/PromptTexts.h"

#include <QDialog>

namespace korvane {

// Asks whether the pad is a PCI V4 device when the pad cannot say so itself.
// "V3" and "V4" end it with OK; Escape or the close box with Cancel.
class PciVersionPrompt : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kTitle = prompt_texts::kPciVersionTitle;
    static constexpr const char* kQuestion = prompt_texts::kPciVersionQuestion;
    static constexpr const char* kExample = prompt_texts::kPciVersionExample;
    static constexpr const char* kOtherwise = prompt_texts::kPciVersionOtherwise;

    enum ControlId : int { kV4 = 3, kV3 = 1020 };

    explicit PciVersionPrompt(QWidget* parent = nullptr);

    bool v4Chosen = false;

    QWidget* control(int id) const;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace korvane
