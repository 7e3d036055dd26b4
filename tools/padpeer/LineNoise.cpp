#include "tools/padpeer/LineNoise.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace korvane::padpeer {
namespace {

// Keeps the toLoader stream apart from the toPad one for any seed.
constexpr uint64_t kSecondStream = 0x9E3779B97F4A7C15ULL;

std::string hex(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof(text), "%02x", byte);
    return text;
}

}  // namespace

bool parseLineNoise(const std::string& text, LineNoiseSettings& settings, std::string& error) {
    const auto colon = text.find(':');
    const std::string rate = text.substr(0, colon);
    const std::string seed = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    char* end = nullptr;
    errno = 0;
    const double value = rate.empty() ? 0 : std::strtod(rate.c_str(), &end);
    if (rate.empty() || errno != 0 || *end != '\0' || !(value > 0) || value > 1 || !std::isfinite(value)) {
        error = "noise=" + text + ": the rate is a number above 0 and at most 1, e.g. 1e-4";
        return false;
    }
    settings.rate = value;
    if (colon == std::string::npos) return true;
    errno = 0;
    const unsigned long long number = seed.empty() ? 0 : std::strtoull(seed.c_str(), &end, 10);
    if (seed.empty() || seed.find_first_not_of("0123456789") != std::string::npos || errno != 0) {
        error = "noise=" + text + ": the seed after \":\" is a decimal number";
        return false;
    }
    settings.seed = number;
    return true;
}

LineNoise::LineNoise(const LineNoiseSettings& settings, Log log)
    : settings_(settings), log_(std::move(log)) {
    // rate * 2^64, saturated: a rate of 1 hits every byte.
    const long double scaled = static_cast<long double>(settings.rate) * 18446744073709551616.0L;
    threshold_ = scaled >= 18446744073709551615.0L ? UINT64_MAX : static_cast<uint64_t>(scaled);
    toPad_.random.seed(settings.seed);
    toLoader_.random.seed(settings.seed ^ kSecondStream);
}

bool LineNoise::hit(std::mt19937_64& random) const {
    const uint64_t draw = random();
    return threshold_ == UINT64_MAX || draw < threshold_;
}

std::string LineNoise::pass(Direction direction, std::string_view bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    Stream& stream = direction == Direction::toPad ? toPad_ : toLoader_;
    const char* way = direction == Direction::toPad ? "loader->pad" : "pad->loader";
    std::string out;
    out.reserve(bytes.size() + 1);
    for (const char c : bytes) {
        const uint64_t offset = stream.offset++;
        if (!hit(stream.random)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        // The top bits of one further draw pick the error, the next draw the new value.
        const uint64_t kind = stream.random() >> 62;  // 0..3; 3 is drawn again
        uint64_t pick = kind;
        while (pick == 3) pick = stream.random() >> 62;
        std::string what;
        if (pick == 0) {
            // XOR with 1..255: never the byte itself.
            uint64_t top = stream.random() >> 56;
            while (top == 255) top = stream.random() >> 56;
            const auto mask = static_cast<unsigned char>(1 + top);
            const auto changed = static_cast<unsigned char>(byte ^ mask);
            out += static_cast<char>(changed);
            ++stream.changed;
            what = "changed " + hex(byte) + " to " + hex(changed);
        } else if (pick == 1) {
            ++stream.dropped;
            what = "dropped " + hex(byte);
        } else {
            out += c;
            out += c;
            ++stream.duplicated;
            what = "duplicated " + hex(byte);
        }
        if (log_) log_(std::string("noise: ") + way + " byte " + std::to_string(offset) + ": " + what);
    }
    return out;
}

long LineNoise::errors() const {
    std::lock_guard<std::mutex> guard(lock_);
    return toPad_.changed + toPad_.dropped + toPad_.duplicated + toLoader_.changed + toLoader_.dropped +
           toLoader_.duplicated;
}

std::string LineNoise::summary() const {
    const long total = errors();
    std::lock_guard<std::mutex> guard(lock_);
    auto way = [](const char* name, const Stream& stream) {
        return std::string(name) + " " + std::to_string(stream.changed) + " changed, " +
               std::to_string(stream.dropped) + " dropped, " + std::to_string(stream.duplicated) + " duplicated in " +
               std::to_string(stream.offset) + " bytes";
    };
    return "noise: " + std::to_string(total) + " errors injected (" + way("loader->pad", toPad_) + "; " +
           way("pad->loader", toLoader_) + ")";
}

}  // namespace korvane::padpeer
