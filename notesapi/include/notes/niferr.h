/* Indexing package status codes. */
#ifndef NOTES_NIFERR_H
#define NOTES_NIFERR_H

#define ERR_NO_SUCH_ITEM 0x0310
#define ERR_IDFILE_NOT_FOUND 0x0319

#endif
