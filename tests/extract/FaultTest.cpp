// Faults during extraction: an output object that refuses its open, any one write or its close,
// and an allocator that refuses any one allocation. Every fault gives a status and a log line,
// closes what was opened, and leaves no temporary file behind.
#include "ExtractFixture.h"

namespace tessel::test {
namespace {

using kit::Item;
using kit::Note;

struct RenderingCase {
    const char *name;
    const char *options; // "key=value" pairs separated by ';'
    int32_t index;
    uint32_t flags;
};

class OutputFaults : public ExtractTest, public ::testing::WithParamInterface<RenderingCase> {
protected:
    void SetUp() override {
        ExtractTest::SetUp();
        std::string options = GetParam().options;
        for (size_t at = 0; at < options.size();) {
            size_t end = options.find(';', at);
            std::string pair = options.substr(at, end == std::string::npos ? std::string::npos : end - at);
            size_t eq = pair.find('=');
            if (eq != std::string::npos)
                option(pair.substr(0, eq), pair.substr(eq + 1));
            at = end == std::string::npos ? options.size() : end + 1;
        }
        kit::Database &db = db_;
        kit::Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x2C, 0, 0, 0, 0,
                          1,   0,   1,   0,   0,   2,   2, 0x44, 1, 0, 0x3B};
        db.add(Note::imageResource("logo.gif;logo", kit::ImageFile{kit::ImageFile::Format::Gif, gif}));
        Note note = memo("faults");
        note.add(Item::text("Logo", "logo"));
        note.add(Item::text("SendTo", "Bob"));
        note.add(Item::file(file("data.bin", pattern(10000))));
        db.add(std::move(note));
        ASSERT_NE(open(db), nullptr);
        ASSERT_EQ(openStatus, 0);
    }
    kit::Database db_;
};

TEST_P(OutputFaults, EveryWriteThatFailsGivesOutputFailed) {
    const RenderingCase &c = GetParam();
    // The number of writes of a good run: the first failing position that does not hurt.
    uint64_t writes = 0;
    for (uint64_t n = 1; n < 10000; n++) {
        quillon::MemoryIOObject probe;
        probe.failWrite(n);
        if (extractor().extract(c.index, probe.get(), c.flags) == 0) {
            writes = n - 1;
            break;
        }
    }
    ASSERT_GT(writes, 0u);
    for (uint64_t n = 1; n <= writes; n++) {
        quillon::MemoryIOObject out;
        out.failWrite(n);
        EXPECT_EQ(extractor().extract(c.index, out.get(), c.flags), QLSTATUS_OUTPUT_FAILED) << "write " << n;
        EXPECT_EQ(out.openCount(), 1) << "write " << n;
        EXPECT_EQ(out.closeCount(), 1) << "the object is closed after failed write " << n;
        EXPECT_TRUE(tempFilesLeft().empty()) << "write " << n;
    }
    bool loggedWriteError = false;
    for (const auto &line : log())
        loggedWriteError = loggedWriteError || (line.find("ERROR") != std::string::npos &&
                                                    line.find("Error writing") != std::string::npos);
    EXPECT_TRUE(loggedWriteError);
}

TEST_P(OutputFaults, RefusedOpenAndCloseGiveOutputFailed) {
    const RenderingCase &c = GetParam();
    quillon::MemoryIOObject refusesOpen;
    refusesOpen.failOpen(true);
    EXPECT_EQ(extractor().extract(c.index, refusesOpen.get(), c.flags), QLSTATUS_OUTPUT_FAILED);
    EXPECT_EQ(refusesOpen.data(), "");
    EXPECT_TRUE(logged("Error opening I/O object"));

    quillon::MemoryIOObject refusesClose;
    refusesClose.failClose(true);
    EXPECT_EQ(extractor().extract(c.index, refusesClose.get(), c.flags), QLSTATUS_OUTPUT_FAILED);
    EXPECT_FALSE(refusesClose.data().empty()) << "everything was written before the close";
    EXPECT_TRUE(logged("Error closing I/O object"));
    EXPECT_TRUE(tempFilesLeft().empty());
}

TEST_P(OutputFaults, AnyRefusedAllocationGivesAStatusAndLeavesNothing) {
    const RenderingCase &c = GetParam();
    // The first extraction of a fresh container grows the work buffers: that is where allocations
    // happen, so each round opens the container again and refuses one of them.
    std::string good;
    ASSERT_EQ(extract(c.index, c.flags, good), 0);
    uint64_t refusals = 0;
    for (uint64_t n = 1; n < 400; n++) {
        ASSERT_NE(open(db_), nullptr);
        allocator.resetCounts();
        allocator.failAllocation(n);
        std::string out;
        int status = extract(c.index, c.flags, out);
        bool refused = allocator.counts().failures > 0;
        allocator.failAllocation(0);
        if (!refused) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(out, good) << "allocation " << n;
            break;
        }
        refusals++;
        if (status == 0) {
            EXPECT_EQ(out, good) << "a success after refused allocation " << n << " must be the whole output";
        }
        EXPECT_TRUE(tempFilesLeft().empty()) << "allocation " << n;
        // The same container still works once memory is back.
        std::string again;
        EXPECT_EQ(extract(c.index, c.flags, again), 0) << "after refused allocation " << n;
        EXPECT_EQ(again, good) << "after refused allocation " << n;
    }
    EXPECT_GT(refusals, 0u) << "the first extraction allocates";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OutputFaults,
    ::testing::Values(RenderingCase{"FormattedMemo", "", 0, QLExtractFlag_GetFormattedBody},
                      RenderingCase{"PlainMemo", "", 0, 0},
                      RenderingCase{"AllFields", "ExtractAllFields=1", 0, 0},
                      RenderingCase{"Dxl", "ExportDXL=1", 0, 0},
                      RenderingCase{"Attachment", "", 1, 0}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace tessel::test
