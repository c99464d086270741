// The process-wide state of the emulated runtime: the initialisation count, the environment
// read from notes.ini, and the handle table.
#pragma once

#include "Environment.h"
#include "HandleTable.h"

#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace notesemu {

class Runtime {
public:
    static Runtime &instance();

    // The first call locates and reads notes.ini; later calls only count. Thread-safe.
    STATUS init(std::span<char *const> args);
    // Undoes one successful init; the last one frees every handle and empties the environment.
    void term();
    bool initialised() const;

    // Environment access; nullopt / ignored while the runtime is not initialised.
    std::optional<std::string> environmentValue(std::string_view name) const;
    bool setEnvironmentValue(std::string_view name, const char *value);

    HandleTable &handles() { return handles_; }

private:
    Runtime() = default;

    mutable std::mutex mutex_;
    int initCount_ = 0;
    Environment environment_;
    HandleTable handles_;
};

} // namespace notesemu
