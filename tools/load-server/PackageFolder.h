#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace korvane {

// What the server hands out, read from a folder:
//   FOLDER/packages.ini   [model NAME] / [config NAME] / [file NAME] sections
//   FOLDER/files/NAME     named files, served even without a [file NAME] section
// The index is read again for every request, so packages can be changed while
// the server runs. README-section.md describes the layout for operators.
class PackageFolder {
public:
    struct Entry {
        std::string path;          // absolute, inside the folder
        std::string version;       // sent as "Version"
        std::string infoFileName;  // sent as "AddInfoFileName" (packages only)
    };
    enum class Kind { application, configuration, namedFile };

    explicit PackageFolder(std::string folder) : folder_(std::move(folder)) {}

    // Reads and checks the index; false with a message naming the file and line.
    bool validate(std::string& error) const;

    // The entry for a model (Kind application/configuration) or a file name;
    // nullopt with a reason for the client when there is none.
    std::optional<Entry> find(Kind kind, const std::string& name, std::string& reason) const;

    struct Content {
        std::string bytes;
        std::string md5;  // upper-case hex
    };
    // The whole file and its digest; null when it cannot be read. Connections
    // fetching the same unchanged file share one copy while any of them holds it.
    std::shared_ptr<const Content> load(const std::string& path) const;

    static constexpr const char* kIndexName = "packages.ini";
    static constexpr const char* kFilesFolder = "files";
    static constexpr const char* kDefaultFileVersion = "1";

private:
    struct Section {
        std::map<std::string, std::string> keys;
        int line = 0;
    };
    using Index = std::map<std::string, Section>;  // "model NAME", "config NAME", "file NAME"

    bool readIndex(Index& index, std::string& error) const;
    bool resolve(const std::string& relative, std::string& absolute) const;

    // Files stay loaded (with their digest) between requests, up to this many
    // bytes in all: loading several pads of one model reads and digests each once.
    static constexpr std::uintmax_t kCachedBytes = 256u << 20;

    struct Cached {
        std::shared_ptr<const Content> content;
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
    };

    std::string folder_;
    mutable std::mutex cacheLock_;
    mutable std::map<std::string, Cached> cache_;
};

// A name a client may ask for with PP_FILENAME: one path component, printable.
bool isPlainFileName(const std::string& name);

}  // namespace korvane
