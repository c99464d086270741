#include "ReaderCalls.h"

#include <quillon/host/Status.h>

namespace tessel::cli {

int extractSubfile(const quillon::Container &container, int32_t index, QLIOobj *output, uint32_t flags) {
    const QLReaderInterface &operations = container.operations();
    if (operations.fpExtractSubFileToIOobj == nullptr)
        return quillon::kStatusUnavailable;
    QLSubFileExtractInfo info{};
    info.cbStruct = sizeof(info);
    int fifth = 0;
    return operations.fpExtractSubFileToIOobj(container.context(), index, output, &info, &fifth, flags);
}

} // namespace tessel::cli
