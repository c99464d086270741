/* The API headers compile as C; the sizes seen by a C compiler are checked from C++. */
#include <notes/notes.h>

size_t headerLayoutCSize(int which);

size_t headerLayoutCSize(int which) {
    switch (which) {
    case 0:
        return sizeof(CDPABDEFINITION);
    case 1:
        return sizeof(FILEOBJECT);
    case 2:
        return sizeof(BLOCKID);
    default:
        return sizeof(SEARCH_MATCH);
    }
}
