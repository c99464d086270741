// A one-line progress bar on a terminal: done/total and the rate, redrawn at most ten times a
// second. Lines printed meanwhile go above it (clear, print, redraw).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tessel::cli {

class ProgressBar {
public:
    // Draws on fd when enabled; otherwise every call does nothing.
    ProgressBar(int fd, bool enabled);
    ~ProgressBar();

    void update(uint64_t done, uint64_t total, bool force = false);
    // Removes the bar from the screen (until the next update).
    void clear();
    bool enabled() const { return enabled_; }

    // The bar's text: "[#####-----] 12/38 subfiles, 25.3/s".
    static std::string render(uint64_t done, uint64_t total, double perSecond, int width);

private:
    int fd_;
    bool enabled_;
    bool shown_ = false;
    uint64_t done_ = 0, total_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace tessel::cli
