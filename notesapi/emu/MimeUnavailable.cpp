// MIME conversion in a runtime built without GMime (the Windows build): every MIME part list is
// refused with ERR_NOT_IMPLEMENTED and a log line, so that a caller reports the memo's MIME body
// as not convertible instead of writing an empty one.
#include "MimeToCd.h"

#include "Log.h"

#include <notes/clerr.h>

namespace notesemu {

STATUS convertMimeParts(const std::vector<std::span<const std::uint8_t>> &parts, const MimeObjectSource &,
                        MimeConversion &) {
    logf("MIME conversion is not part of this build of the runtime (no GMime); %zu MIME part(s) not converted",
         parts.size());
    return ERR_NOT_IMPLEMENTED;
}

} // namespace notesemu
