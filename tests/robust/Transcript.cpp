#include "Transcript.h"

#include <quillon/host/Catalogue.h>
#include <quillon/host/Extractor.h>
#include <quillon/host/Host.h>
#include <quillon/host/IOObject.h>

#include <sstream>

#include "nsf/reader/reader.h"

namespace tessel::test {
namespace {

void writeElements(std::ostringstream &out, const quillon::Result<std::vector<quillon::MetaElement>> &result) {
    out << " status " << result.status << '\n';
    for (const auto &element : result.value)
        out << "  " << element.name.value_or("(none)") << " [" << element.type
            << "] = " << element.value.value_or("(invalid)") << '\n';
}

} // namespace

quillon::HostOptions hostOptions(quillon::Allocator *allocator, const std::filesystem::path &scratch) {
    quillon::HostOptions options;
    options.allocator = allocator;
    options.hostDir = TESSEL_SOURCE_DIR "/share/";
    options.tempDir = (scratch / "base/").string();
    return options;
}

RunResult runWhole(const std::filesystem::path &database, const std::filesystem::path &scratch,
                   const RunFaults &faults) {
    RunResult result;
    std::ostringstream out;
    quillon::Host host(quillon::Config{}, hostOptions(faults.allocator, scratch));
    QLReaderInterface ops{};
    nsfGetContainerReaderInterfaceEx(&ops);

    quillon::FileIOObject input(database, quillon::FileIOObject::Direction::Input);
    void *pContext = ops.fpInit(input.get(), host.services(), 0, nullptr, nullptr, &result.openStatus);
    out << "open " << result.openStatus << '\n';
    if (result.openStatus != 0) {
        // A failed open still hands back its context, which close releases.
        if (pContext != nullptr)
            ops.fpShutdown(pContext);
        result.anyFailure = true;
        result.transcript = out.str();
        return result;
    }
    quillon::Catalogue catalogue(host, ops, pContext);
    quillon::Extractor extractor(host, ops, pContext);
    auto list = catalogue.list();
    out << "list " << list.status << '\n';
    result.anyFailure = result.anyFailure || !list.ok();
    for (const quillon::SubFile &subFile : list.value) {
        out << "subfile " << subFile.index << " " << quillon::Catalogue::kindName(subFile.kind) << " "
            << subFile.name.value_or("(none)") << " parent " << subFile.parent << " time "
            << subFile.time.dwHighDateTime << ":" << subFile.time.dwLowDateTime << " flags " << subFile.infoFlag
            << '\n';
        auto mail = catalogue.mailFields(subFile.index);
        out << " mail";
        writeElements(out, mail);
        auto items = catalogue.allItems(subFile.index);
        out << " items";
        writeElements(out, items);
        quillon::MemoryIOObject output;
        if (faults.failWrite != 0)
            output.failWrite(faults.failWrite);
        int status = extractor.extract(subFile.index, output.get(), 0);
        out << " extract " << status << " " << output.data().size() << " bytes\n" << output.data() << '\n';
        result.anyFailure = result.anyFailure || !mail.ok() || !items.ok() || status != 0;
    }
    ops.fpShutdown(pContext);
    result.transcript = out.str();
    return result;
}

} // namespace tessel::test
