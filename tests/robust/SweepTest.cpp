// Fault sweeps over the sample database: the host allocator refusing its Nth allocation, and the
// output object refusing its Nth write, for N from 1 until a run completes (every N with
// TESSEL_SWEEP=full, a stride of them otherwise). No crash, every failure reported as a status, a
// run that reports no failure loses nothing, and nothing stays allocated or on disk after close.
#include "RobustFixture.h"

#include <quillon/host/Allocator.h>
#include <quillon/host/Catalogue.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/Host.h>
#include <quillon/host/IOObject.h>

#include <algorithm>
#include <functional>
#include <set>

#include "nsf/reader/reader.h"

namespace tessel::test {
namespace {

using Sweep = RobustTest;

TEST_F(Sweep, TheSampleReadsWholeAndTheSameTwice) {
    quillon::TestAllocator allocator;
    RunResult first = runWhole(sample, dir.path(), {&allocator});
    ASSERT_EQ(first.openStatus, 0);
    EXPECT_FALSE(first.anyFailure) << first.transcript;
    EXPECT_EQ(allocator.liveCount(), 0u);
    RunResult second = runWhole(sample, dir.path(), {&allocator});
    EXPECT_EQ(first.transcript, second.transcript);
    EXPECT_GT(allocator.counts().allocations, 100u);
    EXPECT_TRUE(leftovers().empty());
}

// Refuses allocation N for N = 1, 2, ... 16, then every `step`th, until a run gets past its last
// allocation; returns the number of runs that reported a failure.
uint64_t sweepAllocations(const std::filesystem::path &database, const std::filesystem::path &scratch,
                          uint64_t step, const std::function<std::vector<std::string>()> &leftovers) {
    quillon::TestAllocator reference;
    const RunResult whole = runWhole(database, scratch, {&reference});
    EXPECT_FALSE(whole.anyFailure) << whole.transcript;
    uint64_t reported = 0;
    for (uint64_t n = 1;; n += (n < 16 ? 1 : step)) {
        quillon::TestAllocator allocator;
        allocator.failAllocation(n);
        RunResult run = runWhole(database, scratch, {&allocator});
        EXPECT_EQ(allocator.liveCount(), 0u) << "allocation " << n << " refused: blocks left after close";
        EXPECT_TRUE(leftovers().empty()) << "allocation " << n;
        if (allocator.counts().failures == 0) {
            // The run got past its last allocation: it must be the whole run.
            EXPECT_FALSE(run.anyFailure) << "allocation " << n;
            EXPECT_EQ(run.transcript, whole.transcript);
            break;
        }
        if (run.anyFailure)
            reported++;
        else
            EXPECT_EQ(run.transcript, whole.transcript) << "allocation " << n << " refused, no failure reported";
        if (::testing::Test::HasFailure())
            break;
    }
    return reported;
}

// The log's error lines, without their timestamps.
std::set<std::string> errorLines(const std::string &log) {
    std::set<std::string> lines;
    for (const std::string &line : kit::stripTimestamps(kit::splitLines(log)))
        if (line.find("ERROR") != std::string::npos)
            lines.insert(line);
    return lines;
}

TEST_F(Sweep, EveryRefusedAllocationIsReportedOrAbsorbedWithoutLoss) {
    quillon::TestAllocator counting;
    ASSERT_FALSE(runWhole(sample, dir.path(), {&counting}).anyFailure);
    // A run without faults may log errors of its own (the Windows runtime's missing MIME conversion).
    const std::set<std::string> errorsOfAWholeRun = errorLines(logText());
    // An odd stride visits allocations of every kind of step in the run within a few dozen runs.
    const uint64_t step = stride(std::max<uint64_t>(1, counting.counts().allocations / 40) | 1);
    EXPECT_GT(sweepAllocations(sample, dir.path(), step, [this] { return leftovers(); }), 0u);
    const std::set<std::string> errors = errorLines(logText());
    EXPECT_TRUE(std::any_of(errors.begin(), errors.end(),
                            [&](const std::string &line) { return !errorsOfAWholeRun.contains(line); }))
        << "refusals are logged";
}

// A memo with an attachment, whole: a refused allocation while the catalogue is built used to
// leave the attachment listed without its name and time, and the open reported success.
TEST_F(Sweep, EveryAllocationOfASmallDatabase) {
    const std::filesystem::path database =
        dir.copy(TESSEL_SOURCE_DIR "/tests/data/robust/attachment-memo.dxl", "small/attachment-memo.dxl");
    EXPECT_GT(sweepAllocations(database, dir.path(), 1, [this] { return leftovers(); }), 0u);
}

TEST_F(Sweep, EveryFailedWriteIsReportedAndClosesTheOutput) {
    quillon::TestAllocator allocator;
    {
        quillon::Host host(quillon::Config{}, hostOptions(&allocator, dir.path()));
        QLReaderInterface ops{};
        nsfGetContainerReaderInterfaceEx(&ops);
        quillon::FileIOObject input(sample, quillon::FileIOObject::Direction::Input);
        int openStatus = -1;
        void *pContext = ops.fpInit(input.get(), host.services(), 0, nullptr, nullptr, &openStatus);
        ASSERT_NE(pContext, nullptr);
        quillon::Extractor extractor(host, ops, pContext);
        auto list = quillon::Catalogue(host, ops, pContext).list();
        ASSERT_TRUE(list.ok());
        size_t checked = 0;
        for (const quillon::SubFile &subFile : list.value) {
            std::string whole;
            int status = extractor.extract(subFile.index, whole, 0);
            if (status != 0 || whole.empty())
                continue; // nothing is written for it, so no write can fail
            checked++;
            const uint64_t step = stride(7);
            for (uint64_t n = 1;; n += step) {
                quillon::MemoryIOObject out;
                out.failWrite(n);
                status = extractor.extract(subFile.index, out.get(), 0);
                EXPECT_EQ(out.openCount(), out.closeCount()) << "subfile " << subFile.index << " write " << n;
                if (status == 0) {
                    EXPECT_EQ(out.data(), whole) << "subfile " << subFile.index << " write " << n;
                    break;
                }
                EXPECT_EQ(status, QLSTATUS_OUTPUT_FAILED) << "subfile " << subFile.index << " write " << n;
                if (HasFailure() || n > 1000000)
                    break;
            }
            if (HasFailure())
                break;
        }
        EXPECT_GT(checked, 20u);
        ops.fpShutdown(pContext);
    }
    EXPECT_EQ(allocator.liveCount(), 0u);
    EXPECT_TRUE(leftovers().empty());
    EXPECT_NE(logText().find("Error writing"), std::string::npos);
}

} // namespace
} // namespace tessel::test
