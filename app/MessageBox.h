#pragma once

#include <functional>
#include <string>

class QWidget;

namespace korvane {

// Every operator message of the desktop program: a modal box with only an OK
// button. The text also goes to standard error, so a technician's terminal or
// a script sees it. With $KORVANE_UNATTENDED=1 the box is not shown (scripts
// and tests run the program without anyone to press OK).
void showMessage(QWidget* parent, const std::string& text);

// Called with each message text before it is shown; for tests.
void setMessageObserver(std::function<void(const std::string&)> observer);

inline constexpr const char* kMessageTitle = "KorvaneFieldLoader";

}  // namespace korvane
