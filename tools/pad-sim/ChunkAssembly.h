#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane::padsim {

// The Equinox pad's side of a "PL5" file transfer: each chunk's fields are
// checked and its data appended until the chunk flagged "N" ends the file.
//
// Chunk text: "PL5", FS, "Y" (more chunks follow) or "N" (the last), the
// data length in five decimal digits, the file name, FS, the raw data. A
// chunk carries at most 65000 bytes and every chunk but the last is full;
// an empty file is never sent.
class ChunkAssembly {
public:
    static constexpr size_t kMaxChunk = 65000;
    static constexpr size_t kMaxName = 40;  // a bundle entry's name field

    enum class Step {
        taken,     // a chunk of a file still under way
        complete,  // the file is whole: name(), data(), chunks()
        refused,   // the chunk cannot be read (see violations); nothing was taken
    };

    // `text` is the whole message text, beginning "PL5". Every deviation is
    // added to `violations`, one sentence each; a chunk that can still be
    // read is taken even so.
    Step take(std::string_view text, std::vector<std::string>& violations);

    // A file whose chunks stopped before its "N" chunk: its name (then forgotten).
    std::string abandon();

    bool active() const { return active_; }
    const std::string& name() const { return name_; }
    const std::string& data() const { return data_; }
    int chunks() const { return chunks_; }
    // The last chunk taken: its flag and the length its header gave.
    char lastFlag() const { return lastFlag_; }
    size_t lastLength() const { return lastLength_; }

    // The chunk's fields without checking them; false when "PL5", FS, the
    // flag, five digits, the name and its FS cannot all be found.
    struct Fields {
        char flag = 0;
        std::string lengthText;
        std::string name;
        std::string_view data;
    };
    static bool split(std::string_view text, Fields& fields);

private:
    bool active_ = false;
    int chunks_ = 0;
    char lastFlag_ = 0;
    size_t lastLength_ = 0;
    std::string name_;
    std::string data_;
};

}  // namespace korvane::padsim
