// Every operation that takes a subfile index, given indexes no catalogue holds: a bad-argument
// status, nothing written, and no arithmetic on the index that overflows.
#include "RobustFixture.h"

#include <quillon/host/Catalogue.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/Host.h>
#include <quillon/host/IOObject.h>

#include <climits>

#include "nsf/reader/reader.h"

namespace tessel::test {
namespace {

using Indexes = RobustTest;

TEST_F(Indexes, OutsideTheCatalogueGiveBadArgument) {
    quillon::TestAllocator allocator;
    {
        quillon::Host host(quillon::Config{}, hostOptions(&allocator, dir.path()));
        QLReaderInterface ops{};
        nsfGetContainerReaderInterfaceEx(&ops);
        quillon::FileIOObject input(sample, quillon::FileIOObject::Direction::Input);
        int openStatus = -1;
        void *pContext = ops.fpInit(input.get(), host.services(), 0, nullptr, nullptr, &openStatus);
        ASSERT_EQ(openStatus, 0);
        quillon::Catalogue catalogue(host, ops, pContext);
        quillon::Extractor extractor(host, ops, pContext);
        const int32_t count = catalogue.count().value;
        ASSERT_GT(count, 0);
        for (int32_t index : {-1, INT32_MIN, INT32_MAX, count}) {
            EXPECT_EQ(catalogue.subFile(index).status, QLSTATUS_BAD_ARGUMENT) << index;
            EXPECT_EQ(catalogue.mailFields(index).status, QLSTATUS_BAD_ARGUMENT) << index;
            quillon::MemoryIOObject out;
            EXPECT_EQ(extractor.extract(index, out.get(), 0), QLSTATUS_BAD_ARGUMENT) << index;
            EXPECT_EQ(out.data(), "") << index;
            EXPECT_EQ(extractor.extractEx(index, out.get(), 0, nullptr), QLSTATUS_BAD_ARGUMENT) << index;
            EXPECT_EQ(out.data(), "") << index;
        }
        ops.fpShutdown(pContext);
    }
    EXPECT_EQ(allocator.liveCount(), 0u);
}

} // namespace
} // namespace tessel::test
