#pragma once

#include <mutex>
#include <string>

namespace korvane {

// Lines on standard error, whole even when connection threads write at once.
// `detail` lines (every message) appear only with --trace.
class ServerTrace {
public:
    explicit ServerTrace(bool detailed) : detailed_(detailed) {}

    bool detailed() const { return detailed_; }
    void detail(long connection, const std::string& text);
    void note(const std::string& text);

private:
    std::mutex lock_;
    bool detailed_;
};

}  // namespace korvane
