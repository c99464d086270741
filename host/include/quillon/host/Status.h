// Names of the reader statuses, for messages a person reads.
#ifndef QUILLON_HOST_STATUS_H
#define QUILLON_HOST_STATUS_H

#include <string>

namespace quillon {

// "OK", "OUT_OF_MEMORY", ... for the statuses the reader reports; "STATUS_<n>" for any other.
std::string statusName(int status);

} // namespace quillon

#endif
