// A database given as DXL opened through the reader's own operations, every subfile listed, its
// metadata read and extracted, and the context closed; the allocator must be empty afterwards.
#pragma once

#include "FuzzSupport.h"

#include <quillon/host/Catalogue.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/IOObject.h>

#include "nsf/reader/reader.h"

namespace tessel::fuzz {

struct OpenRun {
    std::string hostDir;      // holds NSFtemplates/
    bool byTemplate = false; // the ExtractByTemplate option
};

inline void openListMetaExtract(const std::filesystem::path &database, const OpenRun &run) {
    quillon::TestAllocator allocator;
    {
        quillon::HostOptions options;
        options.allocator = &allocator;
        options.tempDir = (scratch() / "base/").string();
        options.hostDir = run.hostDir;
        quillon::Config config;
        config.set("tessel", "ExtractByTemplate", run.byTemplate ? "1" : "0");
        quillon::Host host(config, options);
        QLReaderInterface ops{};
        nsfGetContainerReaderInterfaceEx(&ops);
        quillon::FileIOObject input(database, quillon::FileIOObject::Direction::Input);
        int nStatus = -1;
        void *pContext = nsfInit(input.get(), host.services(), 0, nullptr, nullptr, &nStatus);
        // A failed open still returns its context (unless nothing could be allocated), to be closed.
        if (pContext == nullptr && nStatus == 0)
            fail("open succeeded without a context");
        if (pContext != nullptr && nStatus == 0) {
            quillon::Catalogue catalogue(host, ops, pContext);
            quillon::Extractor extractor(host, ops, pContext);
            auto list = catalogue.list();
            for (const quillon::SubFile &subFile : list.value) {
                (void)catalogue.mailFields(subFile.index);
                (void)catalogue.allItems(subFile.index);
                std::string out;
                (void)extractor.extract(subFile.index, out, 0);
                (void)extractor.extract(subFile.index, out,
                                        QLExtractFlag_ExcludeMailHeader | QLExtractFlag_GetFormattedBody);
            }
        }
        if (pContext != nullptr)
            nsfShutdown(pContext);
    }
    if (allocator.liveCount() != 0)
        fail("blocks left allocated after close");
}

} // namespace tessel::fuzz
