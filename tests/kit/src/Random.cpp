#include "tessel/kit/Random.h"

#include <stdexcept>

namespace tessel::kit {

namespace {

// The high 64 bits of the 128-bit product a * b, from 32-bit halves: 32-bit targets have no
// 128-bit integer, and every target must draw the same numbers from the same seed.
std::uint64_t highProduct(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t aLow = a & 0xFFFFFFFFu, aHigh = a >> 32;
    const std::uint64_t bLow = b & 0xFFFFFFFFu, bHigh = b >> 32;
    const std::uint64_t lowLow = aLow * bLow;
    const std::uint64_t highLow = aHigh * bLow;
    const std::uint64_t lowHigh = aLow * bHigh;
    const std::uint64_t middle = (lowLow >> 32) + (highLow & 0xFFFFFFFFu) + (lowHigh & 0xFFFFFFFFu);
    return aHigh * bHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32);
}

} // namespace

std::uint64_t Random::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t Random::below(std::uint64_t n) {
    if (n == 0)
        throw std::invalid_argument("Random::below(0)");
    return highProduct(next(), n);
}

std::int64_t Random::between(std::int64_t lo, std::int64_t hi) {
    if (hi < lo)
        throw std::invalid_argument("Random::between: empty range");
    return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo) + 1));
}

bool Random::percent(unsigned percent) {
    return below(100) < percent;
}

void Random::fill(std::span<std::uint8_t> out) {
    std::size_t i = 0;
    while (i < out.size()) {
        std::uint64_t v = next();
        for (int k = 0; k < 8 && i < out.size(); ++k, ++i)
            out[i] = static_cast<std::uint8_t>(v >> (8 * k));
    }
}

} // namespace tessel::kit
