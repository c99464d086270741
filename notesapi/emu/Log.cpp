#include "Log.h"

#include "Platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace notesemu {
namespace {

std::mutex &logMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(std::string_view)> &captureSink() {
    static std::function<void(std::string_view)> sink;
    return sink;
}

} // namespace

void logLine(std::string_view message) {
    std::lock_guard lock(logMutex());
    if (captureSink())
        captureSink()(message);
    // The file is opened per line: lines are rare, and a test or user may point NOTESEMU_LOG
    // elsewhere between lines.
    const std::optional<std::string> name = environmentText("NOTESEMU_LOG");
    std::filesystem::path path;
    if (!name || name->empty() || !pathFromUtf8(*name, path))
        return;
    if (std::FILE *file = openFile(path, "ab")) {
        std::fprintf(file, "notesemu: %.*s\n", static_cast<int>(message.size()), message.data());
        std::fclose(file);
    }
}

void logf(const char *format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    logLine(buffer);
}

LogCapture::LogCapture() : lines_(std::make_shared<std::string>()) {
    std::lock_guard lock(logMutex());
    previous_ = captureSink();
    captureSink() = [lines = lines_](std::string_view line) {
        lines->append(line);
        lines->push_back('\n');
    };
}

LogCapture::~LogCapture() {
    std::lock_guard lock(logMutex());
    captureSink() = previous_;
}

std::string LogCapture::text() const {
    std::lock_guard lock(logMutex());
    return *lines_;
}

bool LogCapture::contains(std::string_view fragment) const {
    return text().find(fragment) != std::string::npos;
}

} // namespace notesemu
