#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>

namespace korvane::padpeer {

// What `--fault noise=RATE[:SEED]` asks for.
struct LineNoiseSettings {
    double rate = 0;    // chance per byte, in each direction, that the byte is hit
    uint64_t seed = 1;  // the same seed and the same bytes give the same errors
};

// "RATE" or "RATE:SEED", RATE a decimal number above 0 and at most 1
// ("1e-4" or "0.0001"), SEED a decimal number. False with a reason.
bool parseLineNoise(const std::string& text, LineNoiseSettings& settings, std::string& error);

// Line noise on a cable: each byte passing in either direction is, at the
// given rate, changed to another value, dropped, or sent twice (each one
// time in three). Every direction has its own random stream, drawn once per
// byte, so an error depends only on the seed and the bytes that went that way
// before it, not on how the reads and writes were cut. The generator and the
// draws are fixed (64-bit Mersenne Twister, explicit arithmetic), so a seed
// replays on any standard library. Every error is logged as one line.
class LineNoise {
public:
    enum class Direction { toPad, toLoader };
    using Log = std::function<void(const std::string& line)>;

    LineNoise(const LineNoiseSettings& settings, Log log);

    // The bytes as they come out of the noisy line.
    std::string pass(Direction direction, std::string_view bytes);

    long errors() const;
    // "noise: N errors injected (...)", for the end of a run.
    std::string summary() const;
    const LineNoiseSettings& settings() const { return settings_; }

private:
    struct Stream {
        std::mt19937_64 random;
        uint64_t offset = 0;  // bytes that entered the line this way so far
        long changed = 0;
        long dropped = 0;
        long duplicated = 0;
    };

    bool hit(std::mt19937_64& random) const;

    LineNoiseSettings settings_;
    uint64_t threshold_;  // a byte is hit when a 64-bit draw is below this
    Log log_;
    mutable std::mutex lock_;
    Stream toPad_;
    Stream toLoader_;
};

}  // namespace korvane::padpeer
