#include <quillon/host/Status.h>

#include <quillon/quillon.h>

namespace quillon {

std::string statusName(int status) {
    switch (status) {
    case kStatusUnavailable:
        return "UNAVAILABLE";
    case QLSTATUS_OK:
        return "OK";
    case QLSTATUS_OUT_OF_MEMORY:
        return "OUT_OF_MEMORY";
    case QLSTATUS_ACCESS_FAILED:
        return "ACCESS_FAILED";
    case QLSTATUS_INTERNAL:
        return "INTERNAL";
    case QLSTATUS_INIT_FAILED:
        return "INIT_FAILED";
    case QLSTATUS_OUTPUT_FAILED:
        return "OUTPUT_FAILED";
    case QLSTATUS_ACCESS_REFUSED:
        return "ACCESS_REFUSED";
    case QLSTATUS_BAD_ARGUMENT:
        return "BAD_ARGUMENT";
    case QLSTATUS_NO_TEMPLATES:
        return "NO_TEMPLATES";
    case QLSTATUS_NO_MAIN_TEMPLATE:
        return "NO_MAIN_TEMPLATE";
    case QLSTATUS_INVALID_TEMPLATE:
        return "INVALID_TEMPLATE";
    case QLSTATUS_TEMPLATE_STOPPED:
        return "TEMPLATE_STOPPED";
    default:
        return "STATUS_" + std::to_string(status);
    }
}

} // namespace quillon
