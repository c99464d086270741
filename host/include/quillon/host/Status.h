// Names of the reader statuses, for messages a person reads.
#ifndef QUILLON_HOST_STATUS_H
#define QUILLON_HOST_STATUS_H

#include <string>

namespace quillon {

// The status of an operation whose slot the reader left empty; the host never calls it.
inline constexpr int kStatusUnavailable = -1;

// "OK", "OUT_OF_MEMORY", ... for the statuses the reader reports, "UNAVAILABLE" for an operation
// the reader does not offer; "STATUS_<n>" for any other.
std::string statusName(int status);

} // namespace quillon

#endif
