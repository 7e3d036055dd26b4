#pragma once

#include <QIcon>
#include <QImage>

namespace korvane {

// The program icon (a PIN pad), drawn in code so no image file is needed.
QIcon appIcon();

// One square size of that icon. Needs no QGuiApplication, so the build can
// write the installed PNG files from the same drawing.
QImage appIconImage(int size);

}  // namespace korvane
