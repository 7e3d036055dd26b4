#include "tools/load-server/ServerTrace.h"

#include <cstdio>

namespace korvane {

void ServerTrace::detail(long connection, const std::string& text) {
    if (!detailed_) return;
    std::lock_guard<std::mutex> guard(lock_);
    std::fprintf(stderr, "[%ld] %s\n", connection, text.c_str());
    std::fflush(stderr);
}

void ServerTrace::note(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock_);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

}  // namespace korvane
