#include "tools/payload-gen/Deflate.h"

#include <algorithm>
#include <array>

namespace korvane::payloadgen {

namespace {

constexpr std::size_t kWindow = 32768;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 258;
constexpr std::size_t kMaxChain = 256;     // candidates tried per position; bounds the time, not the result's validity
constexpr std::size_t kBlockInput = 65535;  // the most a stored block can carry
constexpr int kHashBits = 15;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistanceBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// A literal (distance 0) or a back reference.
struct Token {
    uint16_t length;  // the literal byte, or the match length
    uint16_t distance;
};

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    // Deflate packs data fields from the least significant bit up.
    void put(uint32_t bits, int count) {
        buffer_ |= uint64_t(bits) << used_;
        used_ += count;
        while (used_ >= 8) {
            out_.push_back(static_cast<uint8_t>(buffer_));
            buffer_ >>= 8;
            used_ -= 8;
        }
    }

    // Huffman codes go most significant bit first.
    void putCode(uint32_t code, int length) {
        uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) reversed |= ((code >> i) & 1) << (length - 1 - i);
        put(reversed, length);
    }

    void alignToByte() {
        if (used_ > 0) put(0, 8 - used_);
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t buffer_ = 0;
    int used_ = 0;
};

// The fixed literal/length code of RFC 1951 section 3.2.6.
void putLiteralLength(BitWriter& writer, unsigned symbol) {
    if (symbol < 144) writer.putCode(0x30 + symbol, 8);
    else if (symbol < 256) writer.putCode(0x190 + symbol - 144, 9);
    else if (symbol < 280) writer.putCode(symbol - 256, 7);
    else writer.putCode(0xC0 + symbol - 280, 8);
}

int literalLengthBits(unsigned symbol) {
    if (symbol < 144) return 8;
    if (symbol < 256) return 9;
    if (symbol < 280) return 7;
    return 8;
}

std::size_t lengthIndex(unsigned length) {
    return std::upper_bound(kLengthBase.begin(), kLengthBase.end(), length) - kLengthBase.begin() - 1;
}

std::size_t distanceIndex(unsigned distance) {
    return std::upper_bound(kDistanceBase.begin(), kDistanceBase.end(), distance) - kDistanceBase.begin() - 1;
}

std::size_t tokenBits(const Token& token) {
    if (token.distance == 0) return literalLengthBits(token.length);
    const std::size_t li = lengthIndex(token.length);
    const std::size_t di = distanceIndex(token.distance);
    return literalLengthBits(257 + unsigned(li)) + kLengthExtra[li] + 5 + kDistanceExtra[di];
}

void putToken(BitWriter& writer, const Token& token) {
    if (token.distance == 0) {
        putLiteralLength(writer, token.length);
        return;
    }
    const std::size_t li = lengthIndex(token.length);
    putLiteralLength(writer, 257 + unsigned(li));
    writer.put(token.length - kLengthBase[li], kLengthExtra[li]);
    const std::size_t di = distanceIndex(token.distance);
    writer.putCode(unsigned(di), 5);
    writer.put(token.distance - kDistanceBase[di], kDistanceExtra[di]);
}

class MatchFinder {
public:
    explicit MatchFinder(std::span<const uint8_t> data)
        : data_(data), head_(std::size_t(1) << kHashBits, -1), previous_(data.size(), -1) {}

    // Longest match for `position` ending at or before `limit`, the earliest
    // candidate winning ties; a length below kMinMatch means none.
    Token longestMatch(std::size_t position, std::size_t limit) const {
        Token best{0, 0};
        if (position + kMinMatch > limit) return best;
        const std::size_t most = std::min(kMaxMatch, limit - position);
        long candidate = head_[hashAt(position)];
        for (std::size_t tries = 0; candidate >= 0 && tries < kMaxChain; ++tries) {
            const std::size_t from = std::size_t(candidate);
            if (position - from > kWindow) break;
            std::size_t length = 0;
            while (length < most && data_[from + length] == data_[position + length]) ++length;
            if (length >= kMinMatch && length > best.length) {
                best = {uint16_t(length), uint16_t(position - from)};
                if (length == most) break;
            }
            candidate = previous_[from];
        }
        return best;
    }

    void insert(std::size_t position) {
        if (position + kMinMatch > data_.size()) return;
        long& slot = head_[hashAt(position)];
        previous_[position] = slot;
        slot = long(position);
    }

private:
    std::size_t hashAt(std::size_t position) const {
        const uint32_t key = uint32_t(data_[position]) << 16 | uint32_t(data_[position + 1]) << 8 | data_[position + 2];
        return (key * 2654435761u) >> (32 - kHashBits);
    }

    std::span<const uint8_t> data_;
    std::vector<long> head_;
    std::vector<long> previous_;
};

void putStoredBlock(BitWriter& writer, std::vector<uint8_t>& out, std::span<const uint8_t> block, bool last) {
    writer.put(last ? 1 : 0, 1);
    writer.put(0, 2);
    writer.alignToByte();
    const uint16_t length = uint16_t(block.size());
    writer.put(length, 16);
    writer.put(uint16_t(~length), 16);
    out.insert(out.end(), block.begin(), block.end());
}

}  // namespace

std::vector<uint8_t> deflate(std::span<const uint8_t> data, bool storedOnly) {
    std::vector<uint8_t> out;
    BitWriter writer(out);
    MatchFinder finder(data);
    std::size_t start = 0;
    do {
        const std::size_t end = std::min(data.size(), start + kBlockInput);
        const bool last = end == data.size();
        const auto block = data.subspan(start, end - start);
        if (storedOnly) {
            putStoredBlock(writer, out, block, last);
            start = end;
            continue;
        }

        std::vector<Token> tokens;
        std::size_t bits = 3 + 7;  // block header and end-of-block code
        for (std::size_t position = start; position < end;) {
            Token token = finder.longestMatch(position, end);
            if (token.length < kMinMatch) token = {data[position], 0};
            const std::size_t advance = token.distance == 0 ? 1 : token.length;
            for (std::size_t i = 0; i < advance; ++i) finder.insert(position + i);
            bits += tokenBits(token);
            tokens.push_back(token);
            position += advance;
        }
        // A stored block costs its header, at most 7 bits of alignment and the length pair.
        if ((block.size() + 4) * 8 + 3 + 7 < bits) {
            putStoredBlock(writer, out, block, last);
        } else {
            writer.put(last ? 1 : 0, 1);
            writer.put(1, 2);
            for (const Token& token : tokens) putToken(writer, token);
            putLiteralLength(writer, 256);
        }
        start = end;
    } while (start < data.size());
    writer.alignToByte();
    return out;
}

}  // namespace korvane::payloadgen
