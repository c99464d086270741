// The runtime's log: one line per notable event (malformed input, misuse of a handle, leaks at
// termination). Lines go to the file named by the environment variable NOTESEMU_LOG when it is
// set, and to a capture sink when a test installs one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace notesemu {

// Writes one line. Thread-safe.
void logLine(std::string_view message);

// printf-style convenience over logLine. Under mingw-w64 the formats are those of its own C99
// printf (the build selects it), which "printf" would check as msvcrt's, without %zu.
#ifdef __MINGW32__
[[gnu::format(gnu_printf, 1, 2)]] void logf(const char *format, ...);
#else
[[gnu::format(printf, 1, 2)]] void logf(const char *format, ...);
#endif

// Collects every line written while it exists, for tests that check what the runtime logged.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::string text() const;
    bool contains(std::string_view fragment) const;

private:
    std::function<void(std::string_view)> previous_;
    std::shared_ptr<std::string> lines_;
};

} // namespace notesemu
