#include "tests/payloads/PadFileFormats.h"

#include <array>
#include <stdexcept>

namespace korvane::test {

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

class BitReader {
public:
    explicit BitReader(std::span<const uint8_t> data) : data_(data) {}

    unsigned bits(int count) {
        uint32_t value = buffer_;
        while (available_ < count) {
            if (position_ >= data_.size()) fail("deflate stream cut short");
            value |= uint32_t(data_[position_++]) << available_;
            available_ += 8;
        }
        buffer_ = value >> count;
        available_ -= count;
        return value & ((uint32_t(1) << count) - 1);
    }

    void dropToByte() {
        buffer_ = 0;
        available_ = 0;
    }

    uint8_t byte() {
        if (position_ >= data_.size()) fail("stored block cut short");
        return data_[position_++];
    }

    std::size_t position() const { return position_; }

private:
    std::span<const uint8_t> data_;
    std::size_t position_ = 0;
    uint32_t buffer_ = 0;
    int available_ = 0;
};

// A canonical Huffman code: the count of codes of each length and the
// symbols in code order, decoded one bit at a time.
struct Huffman {
    std::array<uint16_t, 16> count{};
    std::vector<uint16_t> symbols;

    explicit Huffman(std::span<const uint8_t> lengths) {
        for (uint8_t length : lengths) ++count[length];
        count[0] = 0;
        int left = 1;
        for (int length = 1; length < 16; ++length) {
            left = left * 2 - count[length];
            if (left < 0) fail("over-subscribed Huffman code");
        }
        std::array<uint16_t, 16> offsets{};
        for (int length = 1; length < 15; ++length) offsets[length + 1] = offsets[length] + count[length];
        symbols.resize(lengths.size());
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol)
            if (lengths[symbol] != 0) symbols[offsets[lengths[symbol]]++] = uint16_t(symbol);
    }

    unsigned decode(BitReader& reader) const {
        int code = 0, first = 0, index = 0;
        for (int length = 1; length < 16; ++length) {
            code |= int(reader.bits(1));
            const int n = count[length];
            if (code - n < first) return symbols[index + (code - first)];
            index += n;
            first = (first + n) << 1;
            code <<= 1;
        }
        fail("invalid Huffman code");
    }
};

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistanceBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void inflateCodes(BitReader& reader, Bytes& out, const Huffman& literals, const Huffman& distances) {
    for (;;) {
        const unsigned symbol = literals.decode(reader);
        if (symbol < 256) {
            out.push_back(uint8_t(symbol));
            continue;
        }
        if (symbol == 256) return;
        const unsigned li = symbol - 257;
        if (li >= kLengthBase.size()) fail("bad length symbol");
        const std::size_t length = kLengthBase[li] + reader.bits(kLengthExtra[li]);
        const unsigned di = distances.decode(reader);
        if (di >= kDistanceBase.size()) fail("bad distance symbol");
        const std::size_t distance = kDistanceBase[di] + reader.bits(kDistanceExtra[di]);
        if (distance > out.size()) fail("distance reaches before the start");
        for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    }
}

uint32_t readBigEndian(std::span<const uint8_t> data, std::size_t at) {
    if (at + 4 > data.size()) fail("cut short");
    return uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 | data[at + 3];
}

uint32_t readLittleEndian(std::span<const uint8_t> data, std::size_t at) {
    if (at + 4 > data.size()) fail("cut short");
    return uint32_t(data[at + 3]) << 24 | uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 1]) << 8 | data[at];
}

uint32_t octalField(const uint8_t* field, std::size_t width) {
    uint32_t value = 0;
    std::size_t i = 0;
    while (i < width && field[i] == ' ') ++i;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) value = value * 8 + (field[i] - '0');
    if (i < width && field[i] != 0 && field[i] != ' ') fail("bad octal field");
    return value;
}

}  // namespace

uint32_t testCrc32(std::span<const uint8_t> data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

uint32_t testAdler32(std::span<const uint8_t> data) {
    uint64_t a = 1, b = 0;
    for (uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return uint32_t(b << 16 | a);
}

Bytes inflate(std::span<const uint8_t> stream, std::size_t* consumed) {
    BitReader reader(stream);
    Bytes out;
    bool last = false;
    while (!last) {
        last = reader.bits(1) == 1;
        const unsigned type = reader.bits(2);
        if (type == 0) {
            reader.dropToByte();
            const unsigned length = reader.byte() | unsigned(reader.byte()) << 8;
            const unsigned check = reader.byte() | unsigned(reader.byte()) << 8;
            if ((length ^ 0xFFFF) != check) fail("stored block length check");
            for (unsigned i = 0; i < length; ++i) out.push_back(reader.byte());
        } else if (type == 1) {
            std::array<uint8_t, 288> lengths{};
            for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
            std::array<uint8_t, 30> distanceLengths{};
            distanceLengths.fill(5);
            inflateCodes(reader, out, Huffman(lengths), Huffman(distanceLengths));
        } else if (type == 2) {
            const unsigned literalCount = reader.bits(5) + 257;
            const unsigned distanceCount = reader.bits(5) + 1;
            const unsigned codeCount = reader.bits(4) + 4;
            static constexpr uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
            std::array<uint8_t, 19> codeLengths{};
            for (unsigned i = 0; i < codeCount; ++i) codeLengths[order[i]] = uint8_t(reader.bits(3));
            const Huffman lengthCode(codeLengths);
            std::vector<uint8_t> lengths;
            while (lengths.size() < literalCount + distanceCount) {
                const unsigned symbol = lengthCode.decode(reader);
                if (symbol < 16) {
                    lengths.push_back(uint8_t(symbol));
                    continue;
                }
                uint8_t repeated = 0;
                unsigned times = 0;
                if (symbol == 16) {
                    if (lengths.empty()) fail("repeat with nothing before");
                    repeated = lengths.back();
                    times = 3 + reader.bits(2);
                } else if (symbol == 17) {
                    times = 3 + reader.bits(3);
                } else {
                    times = 11 + reader.bits(7);
                }
                lengths.insert(lengths.end(), times, repeated);
            }
            if (lengths.size() != literalCount + distanceCount) fail("code lengths overrun");
            inflateCodes(reader, out, Huffman(std::span(lengths).first(literalCount)),
                         Huffman(std::span(lengths).subspan(literalCount)));
        } else {
            fail("reserved block type");
        }
    }
    if (consumed) *consumed = reader.position();
    return out;
}

GzipMember readGzip(std::span<const uint8_t> file) {
    if (file.size() < 18 || file[0] != 0x1F || file[1] != 0x8B) fail("no gzip magic");
    if (file[2] != 8) fail("gzip method is not deflate");
    GzipMember member;
    member.flags = file[3];
    if (member.flags & 0xE0) fail("reserved gzip flags set");
    member.mtime = readLittleEndian(file, 4);
    member.extraFlags = file[8];
    member.os = file[9];
    std::size_t at = 10;
    if (member.flags & 0x04) at += 2 + (file[at] | std::size_t(file[at + 1]) << 8);
    const auto zeroTerminated = [&](std::string* into) {
        while (at < file.size() && file[at] != 0) {
            if (into) *into += char(file[at]);
            ++at;
        }
        if (at >= file.size()) fail("unterminated gzip header field");
        ++at;
    };
    if (member.flags & 0x08) zeroTerminated(&member.storedName);
    if (member.flags & 0x10) zeroTerminated(nullptr);
    if (member.flags & 0x02) at += 2;
    member.headerSize = at;
    std::size_t consumed = 0;
    member.data = inflate(file.subspan(at), &consumed);
    at += consumed;
    if (file.size() != at + 8) fail("gzip trailer missing or bytes after it");
    if (readLittleEndian(file, at) != testCrc32(member.data)) fail("gzip CRC-32 mismatch");
    if (readLittleEndian(file, at + 4) != uint32_t(member.data.size())) fail("gzip ISIZE mismatch");
    return member;
}

std::vector<TarEntry> readTar(std::span<const uint8_t> archive) {
    if (archive.size() % 512 != 0) fail("tar size not a multiple of 512");
    std::vector<TarEntry> entries;
    std::size_t at = 0;
    for (;;) {
        if (at + 1024 > archive.size()) fail("tar without its two end blocks");
        const uint8_t* header = archive.data() + at;
        bool zero = true;
        for (int i = 0; i < 512; ++i) zero = zero && header[i] == 0;
        if (zero) {
            for (int i = 512; i < 1024; ++i)
                if (header[i] != 0) fail("tar end marker is a single zero block");
            return entries;
        }
        unsigned sum = 0;
        for (int i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : header[i];
        if (octalField(header + 148, 8) != sum) fail("tar header check sum");
        if (std::string(reinterpret_cast<const char*>(header + 257), 6) != std::string("ustar\0", 6) ||
            header[263] != '0' || header[264] != '0')
            fail("not a ustar header");
        TarEntry entry;
        for (int i = 0; i < 100 && header[i] != 0; ++i) entry.name += char(header[i]);
        entry.mode = octalField(header + 100, 8);
        entry.mtime = octalField(header + 136, 12);
        entry.type = char(header[156]);
        const std::size_t size = octalField(header + 124, 12);
        at += 512;
        if (at + size > archive.size()) fail("tar member cut short");
        entry.data.assign(archive.begin() + long(at), archive.begin() + long(at + size));
        at += (size + 511) / 512 * 512;
        entries.push_back(std::move(entry));
    }
}

PngImage readPng(std::span<const uint8_t> file) {
    static constexpr uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (file.size() < 8 || !std::equal(signature, signature + 8, file.begin())) fail("no PNG signature");
    PngImage image;
    Bytes compressed;
    std::size_t at = 8;
    while (at < file.size()) {
        const uint32_t length = readBigEndian(file, at);
        if (at + 12 + length > file.size()) fail("PNG chunk cut short");
        const auto typeAndData = file.subspan(at + 4, 4 + length);
        if (readBigEndian(file, at + 8 + length) != testCrc32(typeAndData)) fail("PNG chunk CRC");
        const std::string type(typeAndData.begin(), typeAndData.begin() + 4);
        const auto data = typeAndData.subspan(4);
        if (image.chunkTypes.empty() && type != "IHDR") fail("IHDR is not the first chunk");
        image.chunkTypes.push_back(type);
        if (type == "IHDR") {
            if (length != 13) fail("IHDR length");
            image.width = readBigEndian(data, 0);
            image.height = readBigEndian(data, 4);
            image.bitDepth = data[8];
            image.colourType = data[9];
            if (data[10] != 0 || data[11] != 0) fail("unknown compression or filter method");
            image.interlace = data[12];
        } else if (type == "IDAT") {
            compressed.insert(compressed.end(), data.begin(), data.end());
        }
        at += 12 + length;
    }
    if (image.chunkTypes.empty() || image.chunkTypes.back() != "IEND") fail("IEND is not the last chunk");
    if (compressed.size() < 6) fail("no image data");
    if ((compressed[0] & 0x0F) != 8 || (compressed[0] * 256 + compressed[1]) % 31 != 0 || (compressed[1] & 0x20))
        fail("bad zlib header");
    std::size_t consumed = 0;
    image.scanlines = inflate(std::span(compressed).subspan(2), &consumed);
    if (compressed.size() != 2 + consumed + 4) fail("bytes after the zlib stream");
    if (readBigEndian(compressed, 2 + consumed) != testAdler32(image.scanlines)) fail("zlib Adler-32 mismatch");
    const std::size_t channels = image.colourType == 6 ? 4 : image.colourType == 2 ? 3 : image.colourType == 4 ? 2 : 1;
    const std::size_t rowBytes = 1 + (std::size_t(image.width) * channels * image.bitDepth + 7) / 8;
    if (image.interlace == 0 && image.scanlines.size() != rowBytes * image.height) fail("image data length");
    for (std::size_t row = 0; image.interlace == 0 && row < image.height; ++row)
        if (image.scanlines[row * rowBytes] > 4) fail("unknown row filter");
    return image;
}

}  // namespace korvane::test
