// The item data reader: the one way the reader reads the value of a named item of an open note.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <notes/nsfdata.h>

struct NSFBUFFER;
struct NSFCONTEXT;

// What nsfGetItemData is asked for.
enum {
    NSF_DATA_TEXT = 0,    // UTF-8 text appended to BufferMain; pvData: a TFMT for times, or null
    NSF_DATA_CDR = 1,     // composite records in BufferCDR, after the type word
    NSF_DATA_IMAGE = 2,   // a picture's bytes into its own buffer; pvData: an NSFIMAGEDATA
    NSF_DATA_TIMEDATE = 3 // the TIMEDATE copied to pvData
};

// Where an NSF_DATA_IMAGE read puts a picture: the image type word of its header record, and the
// bytes of its segments appended to pBuffer (the rest of the block is kept zero).
struct NSFIMAGEDATA {
    uint16_t wImageType;
    NSFBUFFER *pBuffer;
};

// Reads every item of the name (large values are several items of one name) into the buffer of
// the kind asked for. 0 also when there is no such item (an empty name names none); the result
// buffer is then empty.
int nsfGetItemData(NSFCONTEXT *pContext, NOTEHANDLE hNote, const char *pszItemName, int32_t eData,
                   void *pvData);

// Reads the file object of a TYPE_OBJECT value (pbValue past its type word, cbValue bytes). True
// when the value holds one; other objects and truncated values are logged (the object type at
// nLevel, an unknown type at nUnknownLevel) and give false.
bool nsfReadFileObject(NSFCONTEXT *pContext, const uint8_t *pbValue, uint32_t cbValue, int nLevel,
                       int nUnknownLevel, const char *pszFunc, FILEOBJECT *pFileObj);

// True when the note has an item of the name. A yes-or-no answer: a missing item is no failure.
bool nsfItemIsPresent(NSFCONTEXT *pContext, NOTEHANDLE hNote, const char *pszName, const char *pszCaller);
