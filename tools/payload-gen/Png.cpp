#include "tools/payload-gen/Png.h"

#include "tools/payload-gen/Checksums.h"
#include "tools/payload-gen/Containers.h"

#include <cstdlib>
#include <string_view>

namespace korvane::payloadgen {

namespace {

void putBigEndian(Bytes& out, uint32_t value) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putChunk(Bytes& out, std::string_view type, const Bytes& data) {
    putBigEndian(out, static_cast<uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    putBigEndian(out, crc32(std::span<const uint8_t>(out).subspan(typeAt, 4 + data.size())));
}

unsigned signedSum(const Bytes& row) {
    unsigned sum = 0;
    for (uint8_t byte : row) sum += byte < 128 ? byte : 256 - byte;
    return sum;
}

}  // namespace

std::vector<uint8_t> encodePng(const Canvas& canvas, PngColour colour, bool storedOnly) {
    const std::size_t channels = colour == PngColour::rgba ? 4 : 3;
    const std::size_t stride = canvas.width() * channels;

    Bytes raw;
    Bytes above(stride, 0);
    for (int y = 0; y < canvas.height(); ++y) {
        Bytes row;
        row.reserve(stride);
        for (int x = 0; x < canvas.width(); ++x) {
            const Rgba pixel = canvas.at(x, y);
            row.push_back(pixel.r);
            row.push_back(pixel.g);
            row.push_back(pixel.b);
            if (channels == 4) row.push_back(pixel.a);
        }
        Bytes sub(stride), up(stride);
        for (std::size_t i = 0; i < stride; ++i) {
            sub[i] = static_cast<uint8_t>(row[i] - (i >= channels ? row[i - channels] : 0));
            up[i] = static_cast<uint8_t>(row[i] - above[i]);
        }
        const Bytes* chosen = &row;
        uint8_t filter = 0;
        if (signedSum(sub) < signedSum(*chosen)) chosen = &sub, filter = 1;
        if (signedSum(up) < signedSum(*chosen)) chosen = &up, filter = 2;
        raw.push_back(filter);
        raw.insert(raw.end(), chosen->begin(), chosen->end());
        above = row;
    }

    Bytes header;
    putBigEndian(header, static_cast<uint32_t>(canvas.width()));
    putBigEndian(header, static_cast<uint32_t>(canvas.height()));
    header.push_back(8);
    header.push_back(static_cast<uint8_t>(colour));
    header.push_back(0);  // deflate
    header.push_back(0);  // adaptive filtering
    header.push_back(0);  // not interlaced

    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlibStream(raw, storedOnly));
    putChunk(png, "IEND", {});
    return png;
}

}  // namespace korvane::payloadgen
