#include "tools/load-server/PackageFolder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <openssl/evp.h>
#include <sstream>

namespace korvane {
namespace {

namespace fs = std::filesystem;

std::string trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

const char* kindWord(PackageFolder::Kind kind) {
    switch (kind) {
    case PackageFolder::Kind::application: return "model";
    case PackageFolder::Kind::configuration: return "config";
    case PackageFolder::Kind::namedFile: return "file";
    }
    return "";
}

}  // namespace

bool isPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

bool PackageFolder::readIndex(Index& index, std::string& error) const {
    const fs::path indexPath = fs::path(folder_) / kIndexName;
    std::error_code ignored;
    if (!fs::exists(indexPath, ignored)) return true;
    std::ifstream in(indexPath);
    if (!in) {
        error = indexPath.string() + ": cannot be read";
        return false;
    }
    std::string raw;
    std::string current;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        const std::string line = trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        const std::string where = indexPath.string() + " line " + std::to_string(lineNumber) + ": ";
        if (line[0] == '[') {
            const auto close = line.rfind(']');
            const std::string title = close == std::string::npos ? "" : trim(line.substr(1, close - 1));
            const auto space = title.find(' ');
            const std::string word = title.substr(0, space);
            const std::string name = space == std::string::npos ? "" : trim(title.substr(space + 1));
            if (close == std::string::npos || (word != "model" && word != "config" && word != "file") || name.empty()) {
                error = where + "expected [model NAME], [config NAME] or [file NAME]";
                return false;
            }
            current = word + " " + name;
            if (index.count(current) != 0) {
                error = where + "[" + current + "] appears twice";
                return false;
            }
            index[current].line = lineNumber;
            continue;
        }
        const auto equals = line.find('=');
        if (current.empty() || equals == std::string::npos) {
            error = where + (current.empty() ? "a key outside any section" : "expected key = value");
            return false;
        }
        const std::string key = trim(line.substr(0, equals));
        const bool isFile = current.rfind("file ", 0) == 0;
        const bool known = key == "version" || (isFile ? key == "path" : key == "file" || key == "info-file-name");
        if (!known) {
            error = where + "unknown key \"" + key + "\" in [" + current + "]";
            return false;
        }
        index[current].keys[key] = trim(line.substr(equals + 1));
    }
    for (const auto& [title, section] : index) {
        const bool isFile = title.rfind("file ", 0) == 0;
        const std::string where = indexPath.string() + " line " + std::to_string(section.line) + ": [" + title + "] ";
        if (!isFile && section.keys.count("file") == 0) {
            error = where + "has no \"file\"";
            return false;
        }
        if (!isFile && section.keys.count("version") == 0) {
            error = where + "has no \"version\"";
            return false;
        }
        if (isFile && !isPlainFileName(title.substr(5))) {
            error = where + "is not a plain file name";
            return false;
        }
        const auto path = section.keys.find(isFile ? "path" : "file");
        std::string absolute;
        if (path != section.keys.end() && !resolve(path->second, absolute)) {
            error = where + "names a path outside the package folder";
            return false;
        }
    }
    return true;
}

bool PackageFolder::resolve(const std::string& relative, std::string& absolute) const {
    const fs::path given(relative);
    if (relative.empty() || given.is_absolute()) return false;
    for (const auto& part : given)
        if (part == "..") return false;
    absolute = (fs::path(folder_) / given).lexically_normal().string();
    return true;
}

bool PackageFolder::validate(std::string& error) const {
    std::error_code ignored;
    if (!fs::is_directory(folder_, ignored)) {
        error = "package folder " + folder_ + " does not exist";
        return false;
    }
    Index index;
    return readIndex(index, error);
}

std::optional<PackageFolder::Entry> PackageFolder::find(Kind kind, const std::string& name, std::string& reason) const {
    Index index;
    std::string error;
    if (!readIndex(index, error)) {
        reason = "Package Index Unreadable";
        return std::nullopt;
    }
    const auto found = index.find(std::string(kindWord(kind)) + " " + name);
    Entry entry;
    if (kind == Kind::namedFile) {
        if (!isPlainFileName(name)) {
            reason = "File Not Found: " + name;
            return std::nullopt;
        }
        std::string relative = std::string(kFilesFolder) + "/" + name;
        entry.version = kDefaultFileVersion;
        if (found != index.end()) {
            const auto& keys = found->second.keys;
            if (keys.count("path") != 0) relative = keys.at("path");
            if (keys.count("version") != 0) entry.version = keys.at("version");
        }
        resolve(relative, entry.path);
        std::error_code ignored;
        if (!fs::is_regular_file(entry.path, ignored)) {
            reason = "File Not Found: " + name;
            return std::nullopt;
        }
        return entry;
    }
    if (found == index.end()) {
        reason =
            std::string(kind == Kind::application ? "No Package for Model " : "No Configuration for Model ") + name;
        return std::nullopt;
    }
    const auto& keys = found->second.keys;
    resolve(keys.at("file"), entry.path);
    entry.version = keys.at("version");
    if (keys.count("info-file-name") != 0) entry.infoFileName = keys.at("info-file-name");
    return entry;
}

std::shared_ptr<const PackageFolder::Content> PackageFolder::load(const std::string& path) const {
    std::error_code failed;
    const std::uintmax_t size = fs::file_size(path, failed);
    const fs::file_time_type modified = failed ? fs::file_time_type{} : fs::last_write_time(path, failed);
    if (failed) return nullptr;
    std::lock_guard<std::mutex> guard(cacheLock_);
    const auto found = cache_.find(path);
    if (found != cache_.end() && found->second.size == size && found->second.modified == modified)
        return found->second.content;

    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return nullptr;
    auto content = std::make_shared<Content>();
    content->bytes = std::move(bytes).str();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(content->bytes.data(), content->bytes.size(), digest, &length, EVP_md5(), nullptr) != 1)
        return nullptr;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (unsigned int i = 0; i < length; ++i) {
        content->md5.push_back(kDigits[digest[i] >> 4]);
        content->md5.push_back(kDigits[digest[i] & 0x0F]);
    }
    cache_.erase(path);
    std::uintmax_t cached = size;
    for (const auto& entry : cache_) cached += entry.second.size;
    // Sessions still sending an evicted file keep their own reference to it.
    while (cached > kCachedBytes && !cache_.empty()) {
        cached -= cache_.begin()->second.size;
        cache_.erase(cache_.begin());
    }
    cache_[path] = Cached{content, size, modified};
    return content;
}

}  // namespace korvane
