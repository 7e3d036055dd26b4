#include "app/SettingsFile.h"

#include "platform/FileReplace.h"

#include <cstdint>
#include <fstream>
#include <iterator>

namespace korvane {
namespace {

void appendLittleEndian(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint64_t readLittleEndian(const std::string& in, std::size_t offset, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(static_cast<uint8_t>(in[offset + i])) << (8 * i);
    return value;
}

}  // namespace

std::string SettingsFile::encode(const std::string& text) {
    const uint64_t n = text.size();
    std::string out;
    if (n < 0xFF) {
        appendLittleEndian(out, n, 1);
    } else if (n < 0xFFFE) {
        out.push_back(static_cast<char>(0xFF));
        appendLittleEndian(out, n, 2);
    } else {
        out.push_back(static_cast<char>(0xFF));
        appendLittleEndian(out, 0xFFFF, 2);
        appendLittleEndian(out, n, 4);
    }
    return out + text;
}

std::optional<std::string> SettingsFile::decode(const std::string& bytes) {
    std::size_t offset = 0;
    uint64_t n = 0;
    auto take = [&](int width) -> bool {
        if (bytes.size() < offset + width) return false;
        n = readLittleEndian(bytes, offset, width);
        offset += width;
        return true;
    };
    if (!take(1)) return std::nullopt;
    if (n == 0xFF) {
        if (!take(2)) return std::nullopt;
        if (n == 0xFFFF) {
            if (!take(4)) return std::nullopt;
            if (n < 0xFFFE) return std::nullopt;  // the long form is only written for 65534 and more
        } else if (n < 0xFF || n == 0xFFFE) {
            return std::nullopt;  // 0xFFFE needs the long form; short lengths the one-byte form
        }
    }
    if (bytes.size() - offset < n) return std::nullopt;
    return bytes.substr(offset, n);
}

std::string SettingsFile::load() const {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return kFallbackPortText;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return decode(bytes).value_or(kFallbackPortText);
}

bool SettingsFile::save(const std::string& comPortText) const { return replaceFile(path_, encode(comPortText), 0644); }

}  // namespace korvane
