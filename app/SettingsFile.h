#pragma once

#include <optional>
#include <string>

namespace korvane {

// The operator's COM port text, kept between runs in the working directory as
// one length-prefixed 8-bit string.
class SettingsFile {
public:
    static constexpr const char* kFileName = "KorvaneFieldLoaderCfg112.dat";
    static constexpr const char* kFallbackPortText = "1";
    static constexpr const char* kWriteFailedMessage = "Could Not Access the Disk to write Setup Information!";

    explicit SettingsFile(std::string path = kFileName) : path_(std::move(path)) {}

    // The stored text, or "1" when the file is missing, short or malformed.
    std::string load() const;
    // Replaces the file as a whole (temporary file, then rename), so a failed
    // write never leaves a truncated file. False when it could not be written.
    bool save(const std::string& comPortText) const;

    const std::string& path() const { return path_; }

    // The byte form: a 1-, 3- or 7-byte length prefix, then the characters.
    static std::string encode(const std::string& text);
    // Null for a short file or a prefix this program never writes; bytes
    // after the string are ignored.
    static std::optional<std::string> decode(const std::string& bytes);

private:
    std::string path_;
};

}  // namespace korvane
