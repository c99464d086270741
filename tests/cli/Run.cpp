#include "Run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace tessel::cli::test {

std::filesystem::path tesselPath() { return TESSEL_CLI_PATH; }

RunResult runTessel(const std::vector<std::string> &args, const RunOptions &options) {
    int outPipe[2], errPipe[2], inPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(inPipe) != 0)
        throw std::runtime_error("pipe failed");
    int errRead = -1, errWrite = -1;
    if (options.stderrTerminal) {
        if (::openpty(&errRead, &errWrite, nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
    } else {
        if (::pipe(errPipe) != 0)
            throw std::runtime_error("pipe failed");
        errRead = errPipe[0];
        errWrite = errPipe[1];
    }

    const std::string program = tesselPath().string();
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(inPipe[0], STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errWrite, STDERR_FILENO);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errRead, errWrite})
            ::close(fd);
        if (!options.workingDir.empty() && ::chdir(options.workingDir.c_str()) != 0)
            ::_exit(126);
        for (const auto &[name, value] : options.env) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        std::vector<char *> pointers;
        for (std::string &arg : argv)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        ::execv(program.c_str(), pointers.data());
        ::_exit(127);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errWrite);
    if (!options.input.empty())
        (void)!::write(inPipe[1], options.input.data(), options.input.size());
    ::close(inPipe[1]);

    RunResult result;
    pollfd polls[2] = {{outPipe[0], POLLIN, 0}, {errRead, POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (::poll(polls, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (polls[i].fd < 0 || polls[i].revents == 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::read(polls[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                // A pseudo-terminal reports EIO once the last writer is gone.
                ::close(polls[i].fd);
                polls[i].fd = -1;
                open--;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace tessel::cli::test
