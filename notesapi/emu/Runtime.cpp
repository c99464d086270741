#include "Runtime.h"

#include "DatabaseCache.h"
#include "Identity.h"
#include "Log.h"
#include "Platform.h"

#include <cstdlib>

namespace notesemu {

Runtime &Runtime::instance() {
    static Runtime runtime;
    return runtime;
}

STATUS Runtime::init(std::span<char *const> args) {
    std::lock_guard lock(mutex_);
    if (initCount_ > 0) {
        ++initCount_;
        return NOERROR;
    }
    const IniSource source = locateIni(args, environmentText);
    Environment environment;
    if (const STATUS status = loadEnvironment(source, environment); status != NOERROR)
        return status;
    environment_ = std::move(environment);
    initCount_ = 1;
    return NOERROR;
}

void Runtime::term() {
    std::lock_guard lock(mutex_);
    if (initCount_ == 0) {
        logLine("NotesTerm called without a matching NotesInitExtended");
        return;
    }
    if (--initCount_ > 0)
        return;
    environment_ = Environment();
    resetIdentity();
    if (const std::size_t leaked = handles_.clear(); leaked != 0)
        logf("NotesTerm freed %zu handle(s) still allocated", leaked);
    DatabaseCache::instance().release();
}

bool Runtime::initialised() const {
    std::lock_guard lock(mutex_);
    return initCount_ > 0;
}

std::optional<std::string> Runtime::environmentValue(std::string_view name) const {
    std::lock_guard lock(mutex_);
    if (initCount_ == 0)
        return std::nullopt;
    return environment_.get(name);
}

bool Runtime::setEnvironmentValue(std::string_view name, const char *value) {
    std::lock_guard lock(mutex_);
    if (initCount_ == 0)
        return false;
    if (value == nullptr)
        environment_.erase(name);
    else
        environment_.set(name, value);
    return true;
}

} // namespace notesemu
