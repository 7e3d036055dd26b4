#include "tools/bundle/BundleCommands.h"

#include "pad/Bundle.h"
#include "tools/bundle/PackingList.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

namespace korvane::bundletool {
namespace {

namespace fs = std::filesystem;

constexpr size_t kLargestData = 99999999 - kBundleNameBytes;  // eight digits count the name too

bool readWhole(const std::string& path, ByteArray& bytes, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    bytes.clear();
    unsigned char chunk[65536];
    size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + count);
    const bool failed = std::ferror(file) != 0;
    const int code = errno;
    std::fclose(file);
    if (failed) error = std::strerror(code);
    return !failed;
}

// Written beside the target and renamed over it: never half a file under its name.
bool writeWhole(const std::string& path, const ByteArray& bytes, std::string& error) {
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    const bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int code = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = std::strerror(written ? errno : code);
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code renameError;
    fs::rename(temporary, path, renameError);
    if (renameError) {
        error = renameError.message();
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

bool hasControlByte(const std::string& name) {
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// Why a file of the folder cannot be an entry under its name; empty when it can.
std::string packingNameProblem(const std::string& name) {
    if (name.size() > kBundleNameBytes)
        return "a name of " + std::to_string(name.size()) + " bytes; an entry's name holds at most 40";
    if (hasControlByte(name)) return "a control byte in the name";
    if (std::isspace(static_cast<unsigned char>(name.back())))
        return "white space at the end of the name, which is lost when the bundle is read";
    return {};
}

// Why an entry's name cannot be a file of the folder; empty when it can.
std::string unpackingNameProblem(const std::string& name) {
    if (name.empty()) return "an entry without a name";
    if (name == "." || name == ".." || name.find('/') != std::string::npos) return "not a plain file name";
    if (hasControlByte(name)) return "a control byte in the name";
    return {};
}

std::string shown(const std::string& name) {
    std::string text = "\"";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            text += hex;
        } else {
            text += c;
        }
    }
    return text + "\"";
}

}  // namespace

int packFolder(const std::string& folder, const std::string& bundlePath, const PackOptions& options, std::ostream& out,
               std::ostream& err) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        err << folder << ": not a folder\n";
        return 1;
    }
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code kind;
        if (it->is_regular_file(kind)) names.push_back(name);
        else err << "skipped " << shown(name) << ": not a regular file\n";
    }
    if (error) {
        err << folder << ": cannot be read (" << error.message() << ")\n";
        return 1;
    }
    std::sort(names.begin(), names.end());

    bool failed = false;
    std::map<std::string, ByteArray> files;
    for (const std::string& name : names) {
        const std::string problem = packingNameProblem(name);
        if (!problem.empty()) {
            err << shown(name) << ": " << problem << "\n";
            failed = true;
            continue;
        }
        std::string why;
        ByteArray& data = files[name];
        if (!readWhole(folder + "/" + name, data, why)) {
            err << folder << "/" << name << ": cannot be read (" << why << ")\n";
            failed = true;
        } else if (data.size() > kLargestData) {
            err << shown(name) << ": " << data.size() << " bytes; an entry holds at most " << kLargestData << "\n";
            failed = true;
        }
    }
    if (failed) return 1;

    std::map<std::string, size_t> sizes;
    for (const auto& [name, data] : files)
        if (name != kPackingListName) sizes[name] = data.size();
    const auto given = files.find(kPackingListName);
    const bool hasList = given != files.end() || options.makePackingList;
    if (given == files.end() && options.makePackingList) {
        const std::string text = packingListText(packingOrder(sizes));
        files[kPackingListName] = ByteArray(text.begin(), text.end());
    }
    if (hasList && options.check) {
        const ByteArray& list = files[kPackingListName];
        const std::vector<std::string> problems =
            packingListProblems(packingListNames(std::string(list.begin(), list.end())), sizes);
        for (const std::string& problem : problems) err << problem << "\n";
        if (!problems.empty()) {
            err << "nothing written (--no-check packs it even so, e.g. for a test of the loader)\n";
            return 1;
        }
    }

    ByteArray bundle;
    size_t entries = 0;
    if (hasList) {
        appendBundleEntry(bundle, kPackingListName, files[kPackingListName]);
        ++entries;
    }
    for (const auto& [name, data] : files) {
        if (name == kPackingListName) continue;
        appendBundleEntry(bundle, name, data);
        ++entries;
    }
    std::string why;
    if (!writeWhole(bundlePath, bundle, why)) {
        err << bundlePath << ": cannot be written (" << why << ")\n";
        return 1;
    }
    out << bundlePath << ": " << entries << " entries, " << bundle.size() << " bytes"
        << (given == files.end() && hasList ? " (packing list made from the folder)" : "") << "\n";
    return 0;
}

int listBundle(const std::string& bundlePath, std::ostream& out, std::ostream& err) {
    ByteArray bundle;
    std::string why;
    if (!readWhole(bundlePath, bundle, why)) {
        err << bundlePath << ": cannot be read (" << why << ")\n";
        return 1;
    }
    BundleEntries entries;
    if (!readBundle(bundle, entries)) {
        err << bundlePath << ": does not read as a bundle (empty, cut short inside an entry, or without any entry)\n";
        return 1;
    }
    for (const auto& [name, data] : entries) out << name << "\t" << data.size() << "\n";
    return 0;
}

int unpackBundle(const std::string& bundlePath, const std::string& folder, bool replace, std::ostream& out,
                 std::ostream& err) {
    ByteArray bundle;
    std::string why;
    if (!readWhole(bundlePath, bundle, why)) {
        err << bundlePath << ": cannot be read (" << why << ")\n";
        return 1;
    }
    BundleEntries entries;
    if (!readBundle(bundle, entries)) {
        err << bundlePath << ": does not read as a bundle (empty, cut short inside an entry, or without any entry)\n";
        return 1;
    }
    // Everything is checked before the first file is written.
    bool failed = false;
    for (const auto& [name, data] : entries) {
        const std::string problem = unpackingNameProblem(name);
        if (!problem.empty()) {
            err << "entry " << shown(name) << ": " << problem << "\n";
            failed = true;
            continue;
        }
        std::error_code ignored;
        if (!replace && fs::exists(fs::symlink_status(folder + "/" + name, ignored))) {
            err << folder << "/" << name << " exists already (--replace overwrites it)\n";
            failed = true;
        }
    }
    if (failed) return 1;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder, error)) {
        err << folder << ": cannot be made a folder (" << (error ? error.message() : "not a folder") << ")\n";
        return 1;
    }
    for (const auto& [name, data] : entries) {
        if (!writeWhole(folder + "/" + name, data, why)) {
            err << folder << "/" << name << ": cannot be written (" << why << ")\n";
            return 1;
        }
    }
    out << folder << ": " << entries.size() << " files\n";
    return 0;
}

}  // namespace korvane::bundletool
