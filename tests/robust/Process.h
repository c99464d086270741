// The test program starting copies of itself (see main.cpp), on POSIX and on Windows.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tessel::test {

// The exit code of a copy that killed itself, on Windows (on POSIX it dies of SIGKILL).
inline constexpr unsigned kKilledExitCode = 137;

// The program's own file.
std::filesystem::path selfPath();

// The program's arguments after its name, whatever their characters (on Windows from the wide
// command line: argv is in the code page).
std::vector<std::filesystem::path> programArguments(int argc, char **argv);

// A running copy of the program.
class Child {
public:
    Child() = default;
    Child(Child &&other) noexcept;
    Child &operator=(Child &&) = delete;
    Child(const Child &) = delete;
    ~Child();

    // Starts the program with the arguments given (in the current environment); false on failure.
    bool start(const std::vector<std::filesystem::path> &args);
    // Waits for the end. True when it exited with code 0; `killed` tells whether it was killed
    // (SIGKILL, or kKilledExitCode on Windows); `description` says how it ended.
    bool wait(bool &killed, std::string &description);

private:
#ifdef _WIN32
    void *hProcess_ = nullptr;
#else
    int pid_ = 0;
#endif
};

// Ends the program at once, as a kill would: no exit handlers, nothing released by it.
[[noreturn]] void killSelf();

} // namespace tessel::test
