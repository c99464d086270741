// XML templates that decide how the fields of a mail memo are written.
#pragma once

#include <stdint.h>

struct NSFBUFFER;

// One template file held in memory.
struct NSFTEMPLATE {
    int32_t nTemplate;  // 1-based number: position in the template array + 1
    char *pszName;      // owned: the file name without directory
    NSFBUFFER *pBuffer; // the whole file, zero-terminated
    int32_t cLevels;    // deepest control nesting found by validation
};
