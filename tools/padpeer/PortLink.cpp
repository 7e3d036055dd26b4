#include "tools/padpeer/PortLink.h"

#include <filesystem>

namespace korvane::padpeer {

void replacePortLink(const std::string& link, const std::string& target, std::error_code& error) {
    const std::string fresh = link + ".linking";
    std::filesystem::remove(fresh, error);
    if (error) return;
    std::filesystem::create_symlink(target, fresh, error);
    if (!error) std::filesystem::rename(fresh, link, error);
}

}  // namespace korvane::padpeer
