#include "ReaderCalls.h"

#include <quillon/host/Extractor.h>

namespace tessel::cli {

int extractSubfile(const quillon::Container &container, int32_t index, QLIOobj *output, uint32_t flags) {
    return quillon::Extractor(container).extract(index, output, flags);
}

} // namespace tessel::cli
