#pragma once

#include <string>
#include <string_view>

namespace korvane::padsim {

// The pad's side of a "62." file download: the header of each block is read
// and checked, the payload unescaped (FF FF is FF, FF b is b minus 20) and
// appended, until the block that ends the file (type "0" or "3").
//
// Block text after "62.": type, "8", two-digit sequence (1..99, then 1
// again), "0000", the OGZ flag ("0" for a package), "1", and on the first
// block (type "0" or "1") the file name and FS; then the payload.
class FileAssembly {
public:
    enum class Step {
        taken,      // a block of a file still under way
        complete,   // the file is whole: name(), data()
        duplicate,  // the block just taken, sent again; ignored
        error,      // the download is broken (see error()); the next first block starts afresh
    };

    // `text` is the whole message text, beginning "62.".
    Step take(std::string_view text);

    // Type of the block last given to take(), or 0 for a malformed header.
    char lastType() const { return lastType_; }
    int lastSequence() const { return lastSequence_; }
    bool active() const { return active_; }
    int blocks() const { return blocks_; }
    const std::string& name() const { return name_; }
    const std::string& data() const { return data_; }
    bool packageFlag() const { return packageFlag_; }  // the OGZ flag was "0"
    const std::string& error() const { return error_; }

    static bool isFirstBlock(std::string_view text);
    static bool endsFile(std::string_view text);

private:
    Step fail(std::string why);

    bool active_ = false;
    bool broken_ = false;
    int blocks_ = 0;
    int lastSequence_ = 0;
    char lastType_ = 0;
    bool packageFlag_ = false;
    std::string name_;
    std::string data_;
    std::string lastBlock_;
    std::string error_;
};

}  // namespace korvane::padsim
