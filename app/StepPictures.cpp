#include "app/StepPictures.h"

#include <QPainter>
#include <iterator>

namespace korvane {
namespace {

struct PadScreen {
    const char* title;
    const char* lines[3];
    int highlighted;  // -1: none
    bool functionKeys;  // the keys below the screen, F2 and F4 lit
};

constexpr PadScreen kScreens[] = {
    {"VERIFONE", {"", "", ""}, -1, true},
    {"TERMINAL MGR", {"ENTER PASSWORD", "********", ""}, 1, false},
    {"SYS MODE MENU 1", {"Restart", "Edit Parameters", "Download"}, 2, false},
    {"DOWNLOAD", {"Group ID:", "1", ""}, 1, false},
    {"GID 1 PASSWORD", {"ENTER PASSWORD", "********", ""}, 1, false},
    {"DOWNLOAD", {"Single-app", "Multi-app", ""}, 0, false},
    {"DOWNLOAD", {"Full dnld", "Partial dnld", ""}, 0, false},
    {"COMM TYPE    2/2", {"Modem", "TCP/IP", "USB Dev"}, 2, false},
    {"USB DEV", {"Connecting", "to host ...", ""}, -1, false},
    {"DOWNLOAD", {"Ready to receive", "download", ""}, -1, false},
};

const QColor kBezel(48, 52, 58);
const QColor kLcd(196, 214, 176);
const QColor kInk(28, 34, 24);

void drawFunctionKeys(QPainter& painter, const QRect& area) {
    const int keyWidth = area.width() / 4 - 6;
    for (int key = 0; key < 4; ++key) {
        const QRect box(area.left() + key * (keyWidth + 6) + 3, area.top(), keyWidth, area.height());
        const bool lit = key == 1 || key == 3;
        painter.setPen(QPen(lit ? QColor(255, 196, 0) : QColor(120, 124, 130), lit ? 2 : 1));
        painter.setBrush(lit ? QColor(96, 84, 40) : QColor(70, 74, 80));
        painter.drawRoundedRect(box, 3, 3);
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, QString("F%1").arg(key + 1));
    }
}

}  // namespace

QPixmap stepPicture(int index) {
    QPixmap picture(kStepPictureWidth, kStepPictureHeight);
    picture.fill(Qt::transparent);
    if (index < 0 || index >= static_cast<int>(std::size(kScreens))) return picture;
    const PadScreen& screen = kScreens[index];

    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBezel);
    painter.drawRoundedRect(picture.rect().adjusted(0, 0, -1, -1), 8, 8);

    const QRect lcd = screen.functionKeys ? QRect(10, 6, kStepPictureWidth - 20, 40)
                                          : QRect(10, 6, kStepPictureWidth - 20, kStepPictureHeight - 12);
    painter.setBrush(kLcd);
    painter.drawRect(lcd);

    QFont font("Monospace");
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(11);
    painter.setFont(font);
    const int lineHeight = 15;
    QRect line(lcd.left() + 4, lcd.top() + 2, lcd.width() - 8, lineHeight);
    painter.setPen(kInk);
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(bold);
    painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter, screen.title);
    painter.drawLine(lcd.left() + 2, line.bottom() + 1, lcd.right() - 2, line.bottom() + 1);
    painter.setFont(font);
    for (int i = 0; i < 3 && !screen.functionKeys; ++i) {
        line.translate(0, lineHeight);
        if (screen.lines[i][0] == '\0') continue;
        if (i == screen.highlighted) {
            painter.fillRect(line, kInk);
            painter.setPen(kLcd);
        } else {
            painter.setPen(kInk);
        }
        painter.drawText(line.adjusted(3, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, screen.lines[i]);
    }
    if (screen.functionKeys) drawFunctionKeys(painter, QRect(10, 52, kStepPictureWidth - 20, 18));
    return picture;
}

}  // namespace korvane
