#include "Progress.h"

#include "Messages.h"

#include <cstdio>

namespace tessel::cli {

ProgressBar::ProgressBar(int fd, bool enabled)
    : fd_(fd), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() { clear(); }

std::string ProgressBar::render(uint64_t done, uint64_t total, double perSecond, int width) {
    const uint64_t filled = total == 0 ? static_cast<uint64_t>(width) : done * static_cast<uint64_t>(width) / total;
    std::string bar = "[";
    for (int i = 0; i < width; i++)
        bar += static_cast<uint64_t>(i) < filled ? '#' : '-';
    char tail[96];
    std::snprintf(tail, sizeof tail, "] %llu/%llu subfiles, %.1f/s", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total), perSecond);
    return bar + tail;
}

void ProgressBar::update(uint64_t done, uint64_t total, bool force) {
    if (!enabled_)
        return;
    done_ = done;
    total_ = total;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
    writeAll(fd_, "\r\x1b[K" + render(done, total, rate, 30));
    shown_ = true;
}

void ProgressBar::clear() {
    if (enabled_ && shown_) {
        writeAll(fd_, "\r\x1b[K");
        shown_ = false;
    }
}

} // namespace tessel::cli
