/* Notes and their items. */
#ifndef NOTES_NSFNOTE_H
#define NOTES_NSFNOTE_H

#include "global.h"
#include "nsfdata.h"
#include "pool.h"

#define NOTE_CLASS_DOCUMENT 0x0001
#define NOTE_CLASS_DATA NOTE_CLASS_DOCUMENT
#define NOTE_CLASS_INFO 0x0002
#define NOTE_CLASS_FORM 0x0004
#define NOTE_CLASS_VIEW 0x0008
#define NOTE_CLASS_ICON 0x0010
#define NOTE_CLASS_DESIGN 0x0020
#define NOTE_CLASS_ACL 0x0040
#define NOTE_CLASS_HELP_INDEX 0x0080
#define NOTE_CLASS_HELP 0x0100
#define NOTE_CLASS_FILTER 0x0200
#define NOTE_CLASS_FIELD 0x0400
#define NOTE_CLASS_REPLFORMULA 0x0800
#define NOTE_CLASS_PRIVATE 0x1000
#define NOTE_CLASS_DEFAULT 0x8000
#define NOTE_CLASS_NOTIFYDELETION NOTE_CLASS_DEFAULT
#define NOTE_CLASS_ALL 0x7FFF
#define NOTE_CLASS_ALLNONDATA 0x7FFE
#define NOTE_CLASS_NONE 0x0000
#define NOTE_CLASS_NONPRIV 0x0FFF
#define NOTE_CLASS_SINGLE_INSTANCE                                                                           \
    (NOTE_CLASS_DESIGN | NOTE_CLASS_ACL | NOTE_CLASS_INFO | NOTE_CLASS_ICON | NOTE_CLASS_HELP_INDEX)

/* Selectors of NSFNoteGetInfo, with the type written to *Value. */
#define _NOTE_DB 0              /* DBHANDLE */
#define _NOTE_ID 1              /* NOTEID */
#define _NOTE_OID 2             /* ORIGINATORID */
#define _NOTE_CLASS 3           /* WORD */
#define _NOTE_MODIFIED 4        /* TIMEDATE */
#define _NOTE_PRIVILEGES 5      /* WORD */
#define _NOTE_FLAGS 7           /* WORD */
#define _NOTE_ACCESSED 8        /* TIMEDATE */
#define _NOTE_PARENT_NOTEID 10  /* NOTEID */
#define _NOTE_RESPONSE_COUNT 11 /* DWORD */
#define _NOTE_RESPONSES 12      /* DHANDLE of an ID table */
#define _NOTE_ADDED_TO_FILE 13  /* TIMEDATE */
#define _NOTE_OBJSTORE_DB 14    /* DBHANDLE */

#define NOTE_FLAG_READONLY 0x0001
#define NOTE_FLAG_ABSTRACTED 0x0002
#define NOTE_FLAG_INCREMENTAL 0x0004
#define NOTE_FLAG_LINKED 0x0020
#define NOTE_FLAG_INCREMENTAL_FULL 0x0040
#define NOTE_FLAG_GHOST 0x0200
#define NOTE_FLAG_CANONICAL 0x4000

#define NOTE_SIGNED 0x0001
#define NOTE_ENCRYPTED 0x0002

/* Item flags. */
#define ITEM_SIGN 0x0001
#define ITEM_SEAL 0x0002
#define ITEM_SUMMARY 0x0004
#define ITEM_READWRITERS 0x0020
#define ITEM_NAMES 0x0040
#define ITEM_NOUPDATE 0x0080
#define ITEM_PLACEHOLDER 0x0100
#define ITEM_PROTECTED 0x0200
#define ITEM_READERS 0x0400
#define ITEM_UNCHANGED 0x1000

/* Note open flags; the ones above 0xFFFF need NSFNoteOpenExt. */
#define OPEN_SUMMARY 0x0001
#define OPEN_NOVERIFYDEFAULT 0x0002
#define OPEN_EXPAND 0x0004
#define OPEN_NOOBJECTS 0x0008
#define OPEN_SHARE 0x0020
#define OPEN_CANONICAL 0x0040
#define OPEN_MARK_READ 0x0100
#define OPEN_ABSTRACT 0x0200
#define OPEN_RESPONSE_ID_TABLE 0x1000
#define OPEN_WITH_FOLDERS 0x00020000
#define OPEN_CACHE 0x00100000
#define OPEN_RAW_RFC822_TEXT 0x01000000
#define OPEN_RAW_MIME_PART 0x02000000
#define OPEN_RAW_MIME (OPEN_RAW_RFC822_TEXT | OPEN_RAW_MIME_PART)

#define DECRYPT_ATTACHMENTS_IN_PLACE 0x0001

#define ENCRYPT_WITH_USER_PUBLIC_KEY 0x0001
#define ENCRYPT_SMIME_IF_MIME_PRESENT 0x0002
#define ENCRYPT_SMIME_NO_SENDER 0x0004
#define ENCRYPT_SMIME_TRUST_ALL_CERTS 0x0008

/* Flags of NSFNoteExtractFileExt and NSFNoteExtractWithCallback. */
#define NTEXT_RESONLY 0x0001
#define NTEXT_FTYPE_MASK 0x0070
#define NTEXT_FTYPE_FLAT 0x0000
#define NTEXT_FTYPE_MACBIN 0x0010
#define NTEXT_RAWMIME 0x0080
#define NTEXT_IGNORE_HUFF2 0x0100
#define NTEXT_IGNORE_LZ1 0x0200

NOTESAPI_HOST_PACK_BEGIN

/* The bulk key NSFNoteDecrypt hands out for attachments; opaque to callers. */
typedef struct {
    BYTE Byte1;
    WORD Word1;
    BYTE Text[16];
} ENCRYPTION_KEY;

NOTESAPI_HOST_PACK_END

/* Value starts with the item's data-type WORD and ValueLength includes it. */
typedef LNCALLBACKPTR(STATUS, NSFITEMSCANPROC)(WORD Spare, WORD ItemFlags, char *Name, WORD NameLength,
                                               void *Value, DWORD ValueLength, void *RoutineParameter);
typedef LNCALLBACKPTR(STATUS, NOTEEXTRACTCALLBACK)(const BYTE *bytes, DWORD length, void *pParam);

NOTESAPI_BEGIN_DECLS

NOTESAPI STATUS LNPUBLIC NSFNoteOpen(DBHANDLE hDB, NOTEID NoteID, WORD OpenFlags, NOTEHANDLE *rethNote);
NOTESAPI STATUS LNPUBLIC NSFNoteOpenExt(DBHANDLE hDB, NOTEID NoteID, DWORD flags, NOTEHANDLE *rethNote);
NOTESAPI STATUS LNPUBLIC NSFNoteClose(NOTEHANDLE hNote);
NOTESAPI void LNPUBLIC NSFNoteGetInfo(NOTEHANDLE hNote, WORD Type, void *Value);
NOTESAPI BOOL LNPUBLIC NSFNoteHasMIME(NOTEHANDLE hNote);
NOTESAPI BOOL LNPUBLIC NSFNoteHasMIMEPart(NOTEHANDLE hNote);
NOTESAPI STATUS LNPUBLIC NSFNoteDecrypt(NOTEHANDLE hNote, WORD DecryptFlags,
                                        ENCRYPTION_KEY *retKeyForAttachments);
NOTESAPI STATUS LNPUBLIC NSFNoteExtractFile(NOTEHANDLE hNote, BLOCKID bhItem, const char *FileName,
                                            ENCRYPTION_KEY *DecryptionKey);
NOTESAPI STATUS LNPUBLIC NSFNoteExtractFileExt(NOTEHANDLE hNote, BLOCKID bhItem, const char *FileName,
                                               ENCRYPTION_KEY *DecryptionKey, WORD wFlags);
NOTESAPI STATUS LNPUBLIC NSFNoteExtractWithCallback(NOTEHANDLE hNote, BLOCKID bhItem,
                                                    ENCRYPTION_KEY *DecryptionKey, WORD wFlags,
                                                    NOTEEXTRACTCALLBACK pNoteExtractCallback, void *pParam);

/* Name NULL or NameLength 0 selects the first item. Every output may be NULL. The value block
   starts with the data-type WORD and *retValueLength includes it. */
NOTESAPI STATUS LNPUBLIC NSFItemInfo(NOTEHANDLE hNote, const char *Name, WORD NameLength, BLOCKID *retbhItem,
                                     WORD *retDataType, BLOCKID *retbhValue, DWORD *retValueLength);
NOTESAPI STATUS LNPUBLIC NSFItemInfoNext(NOTEHANDLE hNote, BLOCKID NextItem, const char *Name,
                                         WORD NameLength, BLOCKID *retbhItem, WORD *retDataType,
                                         BLOCKID *retbhValue, DWORD *retValueLength);
NOTESAPI STATUS LNPUBLIC NSFItemScan(NOTEHANDLE hNote, NSFITEMSCANPROC ActionRoutine, void *RoutineParameter);
NOTESAPI WORD LNPUBLIC NSFItemGetText(NOTEHANDLE hNote, const char *ItemName, char *retBuffer,
                                      WORD BufferLength);
/* ValueLength includes the data-type WORD. List entries are joined with SepChar as given,
   NUL included. */
NOTESAPI WORD LNPUBLIC NSFItemConvertValueToText(WORD DataType, BLOCKID bhValue, DWORD ValueLength,
                                                 char *retBuffer, WORD BufferLength, char SepChar);
NOTESAPI WORD LNPUBLIC NSFItemConvertToText(NOTEHANDLE hNote, const char *ItemName, char *retBuffer,
                                            WORD BufferLength, char SepChar);

NOTESAPI_END_DECLS

#define NSFItemIsPresent(hNote, Name, NameLength)                                                            \
    (NSFItemInfo((hNote), (Name), (NameLength), NULL, NULL, NULL, NULL) == NOERROR)

#endif
