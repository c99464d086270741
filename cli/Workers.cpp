#include "Workers.h"

#include "Json.h"
#include "Interrupt.h"
#include "Messages.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace tessel::cli {
namespace {

// The events of a database in a worker, sent home as JSON lines.
class PipeEvents final : public ExtractEvents {
public:
    explicit PipeEvents(int fd) : fd_(fd) {}
    void opened(int32_t total) override { send({{"event", "opened"}, {"total", total}}); }
    void subfile(const SubfileOutcome &outcome) override {
        Json record = outcomeJson(outcome, std::nullopt);
        record["event"] = "subfile";
        record["written"] = outcome.written;
        send(record);
    }
    void finished(const DatabaseOutcome &outcome) override {
        send({{"event", "finished"}, {"opened", outcome.opened}, {"error", outcome.error}});
    }
    void message(const std::string &line) { send({{"event", "message"}, {"line", line}}); }

private:
    void send(const Json &record) { writeAll(fd_, dumpJson(record) + "\n"); }
    int fd_;
};

struct Worker {
    pid_t pid = -1;
    int fd = -1;
    size_t job = 0;      // position in the job list
    size_t database = 0; // the number it reports under
    std::string pending;
    bool finished = false;
    int64_t total = -1;
    uint64_t reported = 0;
};

[[noreturn]] void runChild(const ExtractJob &job, int fd) {
    PipeEvents events(fd);
    setMessageSink([&events](const std::string &line) { events.message(line); });
    runExtraction(job, events);
    ::close(fd);
    endIfInterrupted();
    ::_exit(0);
}

void handleLine(Worker &worker, const std::string &line, Reporter &reporter) {
    const Json record = Json::parse(line, nullptr, false);
    if (record.is_discarded() || !record.is_object())
        return;
    const std::string event = record.value("event", "");
    if (event == "opened") {
        worker.total = record.value("total", 0);
        reporter.opened(worker.database, static_cast<int32_t>(worker.total));
    } else if (event == "subfile") {
        if (auto outcome = outcomeFromJson(record)) {
            worker.reported++;
            reporter.subfile(worker.database, *outcome);
        }
    } else if (event == "finished") {
        worker.finished = true;
        reporter.finished(worker.database, {record.value("opened", false), record.value("error", "")});
    } else if (event == "message") {
        reporter.message(record.value("line", ""));
    }
}

// Reads what a worker sent; false at the end of its pipe.
bool drain(Worker &worker, Reporter &reporter) {
    char buffer[65536];
    const ssize_t n = ::read(worker.fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR)
        return true;
    if (n <= 0)
        return false;
    worker.pending.append(buffer, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t end; (end = worker.pending.find('\n', start)) != std::string::npos; start = end + 1)
        handleLine(worker, worker.pending.substr(start, end - start), reporter);
    worker.pending.erase(0, start);
    return true;
}

// After a worker's pipe closed: reaps it and accounts for what it did not report.
void reap(Worker &worker, Reporter &reporter, const std::string &database) {
    int status = 0;
    while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (worker.finished)
        return;
    std::string how = WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                          : "ended with status " + std::to_string(WEXITSTATUS(status));
    if (worker.total < 0) {
        const std::string line = "cannot open " + database + ": the worker " + how;
        reporter.message("tessel: " + line);
        reporter.finished(worker.database, {false, line});
        return;
    }
    const uint64_t missing =
        static_cast<uint64_t>(worker.total) > worker.reported ? static_cast<uint64_t>(worker.total) - worker.reported : 0;
    reporter.message("tessel: " + database + ": the worker " + how + "; " + std::to_string(missing) +
                     " subfiles not extracted");
    reporter.lost(worker.database, missing);
    reporter.finished(worker.database, {true, ""});
}

} // namespace

void runInWorkers(const std::vector<ExtractJob> &jobs, const std::vector<size_t> &positions, unsigned workers,
                  Reporter &reporter) {
    if (workers == 0)
        workers = 1;
    std::vector<Worker> active;
    size_t next = 0;
    std::cout << std::flush;
    bool forwarded = false;
    while (next < jobs.size() || !active.empty()) {
        if (const int signal = interruptSignal(); signal != 0) {
            // The workers stop after their current subfile; databases not started are not.
            if (!forwarded)
                for (const Worker &worker : active)
                    ::kill(worker.pid, signal);
            forwarded = true;
            for (; next < jobs.size(); next++)
                reporter.finished(positions[next], {false, "stopped by signal " + std::to_string(signal)});
        }
        while (next < jobs.size() && active.size() < workers) {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0) {
                reporter.message(std::string("tessel: cannot start a worker: ") + std::strerror(errno));
                reporter.finished(positions[next], {false, "cannot start a worker"});
                next++;
                continue;
            }
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(fds[0]);
                for (const Worker &other : active)
                    ::close(other.fd);
                runChild(jobs[next], fds[1]);
            }
            ::close(fds[1]);
            if (pid < 0) {
                ::close(fds[0]);
                reporter.message(std::string("tessel: cannot start a worker: ") + std::strerror(errno));
                reporter.finished(positions[next], {false, "cannot start a worker"});
                next++;
                continue;
            }
            Worker worker;
            worker.pid = pid;
            worker.fd = fds[0];
            worker.job = next;
            worker.database = positions[next++];
            active.push_back(std::move(worker));
        }
        if (active.empty())
            continue;
        std::vector<pollfd> polls;
        for (const Worker &worker : active)
            polls.push_back({worker.fd, POLLIN, 0});
        if (::poll(polls.data(), polls.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (size_t i = polls.size(); i-- > 0;) {
            if (polls[i].revents == 0)
                continue;
            if (!drain(active[i], reporter)) {
                ::close(active[i].fd);
                reap(active[i], reporter, jobs[active[i].job].database.string());
                active.erase(active.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }
}

} // namespace tessel::cli
