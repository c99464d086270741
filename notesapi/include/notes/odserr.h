/* On-disk structure package status codes. */
#ifndef NOTES_ODSERR_H
#define NOTES_ODSERR_H

#define ERR_DATATYPE 0x0602
#define ERR_ODS_ENUM_COMPLETE 0x0604
#define ERR_ODS_NO_SUCH_ENTRY 0x0605
#define ERR_ODS_INVALID_RFC822TEXTITEM 0x0610

#endif
