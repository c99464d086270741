// Several readers at once: contexts on threads of one process, each on its own database, and
// whole processes opening databases at the same time (they share the machine-wide lock around the
// start of the Notes runtime). Every reader's transcript must equal the one of a run alone.
#include "RobustFixture.h"

#include <quillon/quillon.h>

#include <thread>

#include "Process.h"
#include "nsf/notes/session.h"
#include "nsf/os/qlsys.h"

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
    std::vector<Child> children(kReaders);
    std::vector<std::filesystem::path> outputs;
    for (int i = 0; i < kReaders; i++) {
        std::filesystem::path work = dir / ("process" + std::to_string(i));
        std::filesystem::path copy = dir.copy(sample, "process" + std::to_string(i) + "/mail.dxl");
        outputs.push_back(work / "transcript.txt");
        ASSERT_TRUE(children[i].start({"--reader", copy, work, outputs.back()})) << "reader " << i;
    }
    for (int i = 0; i < kReaders; i++) {
        bool killed = false;
        std::string ending;
        EXPECT_TRUE(children[i].wait(killed, ending)) << "reader " << i << " " << ending;
        EXPECT_EQ(kit::TempDir::read(outputs[i]), alone.transcript) << "reader " << i;
    }
}

// A process killed while it holds the lock: the next reader is told that the lock was abandoned
// (its open fails and says why), and the reader after it opens as usual.
TEST_F(Concurrency, AReaderKilledHoldingTheLockFailsTheNextOpenOnce) {
    // A Windows mutex lives as long as some process has it open: held open here, it outlives the
    // killed holder and tells the next reader that it was abandoned. (On POSIX, opening the lock
    // file does not take the lock.)
    QLSYS_MUTEX *pKeepOpen = qlsys_mutex_open(NSF_MUTEX_NAME);
    ASSERT_NE(pKeepOpen, nullptr);
    Child child;
    ASSERT_TRUE(child.start({"--die-holding-lock"}));
    bool killed = false;
    std::string ending;
    child.wait(killed, ending);
    ASSERT_TRUE(killed) << ending;

    const RunResult next = runWhole(sample, dir / "next");
    EXPECT_EQ(next.openStatus, QLSTATUS_INIT_FAILED);
    EXPECT_NE(logText().find("... wait abandoned"), std::string::npos);
    const RunResult after = runWhole(sample, dir / "after");
    EXPECT_EQ(after.openStatus, 0);
    EXPECT_FALSE(after.anyFailure);
    qlsys_mutex_close(pKeepOpen);
}

} // namespace
} // namespace tessel::test
