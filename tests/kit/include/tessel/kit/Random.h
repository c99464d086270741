// A small deterministic random source (SplitMix64): the same seed gives the same sequence on every
// platform and standard library, which std::uniform_*_distribution does not promise.
#pragma once

#include <cstdint>
#include <span>

namespace tessel::kit {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next();
    // Uniform in [0, n); n must be above 0.
    std::uint64_t below(std::uint64_t n);
    // Uniform in [lo, hi].
    std::int64_t between(std::int64_t lo, std::int64_t hi);
    // True with probability percent / 100.
    bool percent(unsigned percent);
    void fill(std::span<std::uint8_t> out);

private:
    std::uint64_t state_;
};

} // namespace tessel::kit
