// Error and warning lines for standard error. Each line goes out in one write, so lines from
// several worker processes never mix; the sink can be redirected (a worker sends its lines to the
// parent, which keeps the progress bar out of their way).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tessel::cli {

using MessageSink = std::function<void(const std::string &line)>;

// "tessel: " + text, on standard error or to the sink set.
void reportError(std::string_view text);
void reportWarning(std::string_view text);
// Replaces the sink; an empty one restores standard error. Returns the previous one.
MessageSink setMessageSink(MessageSink sink);
// Writes a whole line to a descriptor, retrying short writes.
void writeAll(int fd, std::string_view data);

} // namespace tessel::cli
