#include "app/MessageBox.h"

#include <QMessageBox>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korvane {
namespace {

std::function<void(const std::string&)>& observer() {
    static std::function<void(const std::string&)> instance;
    return instance;
}

bool unattended() {
    const char* value = std::getenv("KORVANE_UNATTENDED");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

void setMessageObserver(std::function<void(const std::string&)> newObserver) { observer() = std::move(newObserver); }

void showMessage(QWidget* parent, const std::string& text) {
    if (observer()) observer()(text);
    std::string line = text;
    for (std::size_t at = line.find("\r\n"); at != std::string::npos; at = line.find("\r\n", at)) line.replace(at, 2, "\n");
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    if (unattended()) return;
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kMessageTitle), QString::fromLatin1(text.c_str()),
                    QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace korvane
