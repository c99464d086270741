// MIME to composite conversion: the C entry point.
#include "Log.h"

#include <notes/notes.h>

extern "C" {

// The runtime cannot yet turn MIME parts into composite records; it says so rather than leave
// the note's MIME items looking converted.
NOTESAPI STATUS LNPUBLIC MIMEConvertMIMEPartCC(NOTEHANDLE hNote, char *pItemName, WORD wItemNameLen,
                                               CCHANDLE hCC) {
    (void)hNote;
    (void)hCC;
    notesemu::logf("MIMEConvertMIMEPartCC(%.*s): MIME conversion is not available in this runtime",
                   static_cast<int>(wItemNameLen), pItemName != nullptr ? pItemName : "");
    return ERR_MIME_PARSE_BAD_DATA;
}

} // extern "C"
