// Several readers at once: contexts on threads of one process, each on its own database, and
// whole processes opening databases at the same time (they share the machine-wide lock around the
// start of the Notes runtime). Every reader's transcript must equal the one of a run alone.
#include "RobustFixture.h"

#include <quillon/quillon.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

extern char **environ;

namespace tessel::test {
namespace {

using Concurrency = RobustTest;

constexpr int kReaders = 4;

TEST_F(Concurrency, ThreadsOfOneProcessEachReadTheirOwnDatabase) {
    const RunResult alone = runWhole(sample, dir / "alone");
    ASSERT_FALSE(alone.anyFailure);
    std::vector<RunResult> results(kReaders);
    std::vector<std::thread> threads;
    for (int i = 0; i < kReaders; i++) {
        std::filesystem::path copy = dir.copy(sample, "thread" + std::to_string(i) + "/mail.dxl");
        threads.emplace_back([&results, i, copy, this] {
            results[i] = runWhole(copy, dir / ("thread" + std::to_string(i)));
        });
    }
    for (auto &thread : threads)
        thread.join();
    for (int i = 0; i < kReaders; i++) {
        EXPECT_FALSE(results[i].anyFailure) << "reader " << i;
        EXPECT_EQ(results[i].transcript, alone.transcript) << "reader " << i;
    }
}

// The test program runs itself as a reader: see main.cpp.
TEST_F(Concurrency, ProcessesOpeningAtOnceReadTheSame) {
    const RunResult alone = runWhole(sample, dir / "alone");
    ASSERT_FALSE(alone.anyFailure);
    std::vector<pid_t> children;
    std::vector<std::filesystem::path> outputs;
    for (int i = 0; i < kReaders; i++) {
        std::filesystem::path work = dir / ("process" + std::to_string(i));
        std::filesystem::path copy = dir.copy(sample, "process" + std::to_string(i) + "/mail.dxl");
        outputs.push_back(work / "transcript.txt");
        std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::vector<std::string> args = {self, "--reader", copy.string(), work.string(), outputs.back().string()};
        std::vector<char *> argv;
        for (auto &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ), 0);
        children.push_back(pid);
    }
    for (size_t i = 0; i < children.size(); i++) {
        int status = 0;
        ASSERT_EQ(waitpid(children[i], &status, 0), children[i]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "reader " << i << " status " << status;
        EXPECT_EQ(kit::TempDir::read(outputs[i]), alone.transcript) << "reader " << i;
    }
}

// A process killed while it holds the lock: the next reader is told that the lock was abandoned
// (its open fails and says why), and the reader after it opens as usual.
TEST_F(Concurrency, AReaderKilledHoldingTheLockFailsTheNextOpenOnce) {
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> args = {self, "--die-holding-lock"};
    std::vector<char *> argv = {args[0].data(), args[1].data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    const RunResult next = runWhole(sample, dir / "next");
    EXPECT_EQ(next.openStatus, QLSTATUS_INIT_FAILED);
    EXPECT_NE(logText().find("... wait abandoned"), std::string::npos);
    const RunResult after = runWhole(sample, dir / "after");
    EXPECT_EQ(after.openStatus, 0);
    EXPECT_FALSE(after.anyFailure);
}

} // namespace
} // namespace tessel::test
