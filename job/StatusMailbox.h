#pragma once

#include <mutex>
#include <string>

namespace korvane {

class ProgressWindowHandle;

// The one status text waiting for the progress window. It keeps only the
// latest: a text replaced before the window fetched it is never shown.
class StatusMailbox {
public:
    static StatusMailbox& processWide();

    void set(const std::string& text);
    std::string text() const;

private:
    mutable std::mutex lock_;
    std::string text_;
};

// Stores `text` in the mailbox and announces it to `window`; true then.
// False, with the text dropped, when there is no window or it has gone.
// Any thread may call it; it never waits for the window.
bool postStatus(const ProgressWindowHandle& window, const std::string& text);

}  // namespace korvane
