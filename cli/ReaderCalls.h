// The extraction call of the plug-in as the command line makes it.
#pragma once

#include <quillon/host/Container.h>
#include <quillon/quillon.h>

#include <cstdint>

namespace tessel::cli {

// Extracts the subfile at index into output with the extraction flags; the reader status.
int extractSubfile(const quillon::Container &container, int32_t index, QLIOobj *output, uint32_t flags);

} // namespace tessel::cli
