#pragma once

#include <QIcon>

namespace korvane {

// The program icon (a PIN pad), drawn in code so no image file is needed.
QIcon appIcon();

}  // namespace korvane
