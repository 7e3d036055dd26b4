#include "job/StatusMailbox.h"

#include "job/ProgressWindowHandle.h"

namespace korvane {

StatusMailbox& StatusMailbox::processWide() {
    static StatusMailbox mailbox;
    return mailbox;
}

void StatusMailbox::set(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    text_ = text;
}

std::string StatusMailbox::text() const {
    std::lock_guard<std::mutex> guard(lock_);
    return text_;
}

bool postStatus(const ProgressWindowHandle& window, const std::string& text) {
    return window.announceIfAlive([&text] { StatusMailbox::processWide().set(text); });
}

}  // namespace korvane
