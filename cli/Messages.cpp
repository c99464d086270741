#include "Messages.h"

#include <unistd.h>

#include <cerrno>

namespace tessel::cli {
namespace {

MessageSink &currentSink() {
    static MessageSink sink;
    return sink;
}

void emit(std::string line) {
    if (currentSink())
        currentSink()(line);
    else
        writeAll(STDERR_FILENO, line + "\n");
}

} // namespace

void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data.remove_prefix(static_cast<size_t>(n));
    }
}

void reportError(std::string_view text) { emit("tessel: " + std::string(text)); }
void reportWarning(std::string_view text) { emit("tessel: warning: " + std::string(text)); }

MessageSink setMessageSink(MessageSink sink) {
    MessageSink previous = std::move(currentSink());
    currentSink() = std::move(sink);
    return previous;
}

} // namespace tessel::cli
