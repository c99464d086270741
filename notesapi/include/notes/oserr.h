/* Operating-system package status codes. */
#ifndef NOTES_OSERR_H
#define NOTES_OSERR_H

#define ERR_NOEXIST 0x0103
#define ERR_EXISTS 0x0104
#define ERR_MEMORY 0x0107
#define ERR_CREATE 0x0108
#define ERR_LOCK 0x010C
#define ERR_ACCESS 0x0110
#define ERR_INV_FILE_NAME 0x0113
#define ERR_CANCEL 0x019D
#define ERR_NO_NOTESINI 0x01A5

#endif
