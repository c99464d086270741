#include "Process.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

#include <cstdlib>

namespace tessel::test {

#ifdef _WIN32

namespace {

// One argument of a command line, as the C runtime and CommandLineToArgvW split it: in quotes,
// backslashes before a quote doubled.
std::wstring quoteArgument(const std::wstring &arg) {
    std::wstring quoted = L"\"";
    size_t cBackslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            cBackslashes++;
            continue;
        }
        quoted.append(c == L'"' ? cBackslashes * 2 + 1 : cBackslashes, L'\\');
        quoted += c;
        cBackslashes = 0;
    }
    quoted.append(cBackslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

} // namespace

std::filesystem::path selfPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        DWORD cch = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (cch == 0)
            return {};
        if (cch < buffer.size()) {
            buffer.resize(cch);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::vector<std::filesystem::path> programArguments(int, char **) {
    std::vector<std::filesystem::path> args;
    int cArgs = 0;
    wchar_t **ppszArgs = CommandLineToArgvW(GetCommandLineW(), &cArgs);
    if (ppszArgs == nullptr)
        return args;
    for (int i = 1; i < cArgs; i++)
        args.emplace_back(ppszArgs[i]);
    LocalFree(ppszArgs);
    return args;
}

Child::Child(Child &&other) noexcept : hProcess_(other.hProcess_) {
    other.hProcess_ = nullptr;
}

Child::~Child() {
    if (hProcess_ != nullptr) {
        TerminateProcess(hProcess_, 1);
        WaitForSingleObject(hProcess_, INFINITE);
        CloseHandle(hProcess_);
    }
}

bool Child::start(const std::vector<std::filesystem::path> &args) {
    const std::filesystem::path self = selfPath();
    std::wstring commandLine = quoteArgument(self.native());
    for (const auto &arg : args)
        commandLine += L" " + quoteArgument(arg.native());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hThread);
    hProcess_ = process.hProcess;
    return true;
}

bool Child::wait(bool &killed, std::string &description) {
    killed = false;
    if (hProcess_ == nullptr || WaitForSingleObject(hProcess_, INFINITE) != WAIT_OBJECT_0) {
        description = "not waited for";
        return false;
    }
    DWORD dwCode = 1;
    bool bGotCode = GetExitCodeProcess(hProcess_, &dwCode) != 0;
    CloseHandle(hProcess_);
    hProcess_ = nullptr;
    if (!bGotCode) {
        description = "no exit code";
        return false;
    }
    killed = dwCode == kKilledExitCode;
    description = "exit code " + std::to_string(dwCode);
    return dwCode == 0;
}

void killSelf() {
    TerminateProcess(GetCurrentProcess(), kKilledExitCode);
    std::abort();
}

#else

std::filesystem::path selfPath() {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
}

std::vector<std::filesystem::path> programArguments(int argc, char **argv) {
    std::vector<std::filesystem::path> args;
    for (int i = 1; i < argc; i++)
        args.emplace_back(argv[i]);
    return args;
}

Child::Child(Child &&other) noexcept : pid_(other.pid_) {
    other.pid_ = 0;
}

Child::~Child() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

bool Child::start(const std::vector<std::filesystem::path> &args) {
    std::vector<std::string> words = {selfPath().string()};
    for (const auto &arg : args)
        words.push_back(arg.string());
    std::vector<char *> argv;
    for (auto &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, words[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    pid_ = pid;
    return true;
}

bool Child::wait(bool &killed, std::string &description) {
    killed = false;
    int status = 0;
    pid_t pid = pid_;
    pid_ = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) {
        description = "not waited for";
        return false;
    }
    description = "status " + std::to_string(status);
    killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void killSelf() {
    std::raise(SIGKILL);
    std::abort();
}

#endif

} // namespace tessel::test
