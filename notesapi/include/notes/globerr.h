/* STATUS layout, package bases and the macros that split a STATUS. */
#ifndef NOTES_GLOBERR_H
#define NOTES_GLOBERR_H

/* Bit 15: already shown to the user; bit 14: raised on a server. The code proper is the low
   14 bits: compare ERR(status) with the ERR_ constants and pass it to OSLoadString. */
#define STS_DISPLAYED 0x8000
#define STS_REMOTE 0x4000
#define ERR_MASK 0x3FFF
#define PKG_MASK 0x3F00
#define ERRNUM_MASK 0x00FF
#define STRING_MASK 0x8000

#define ERR(error) ((error)&ERR_MASK)
#define PKG(error) ((error)&PKG_MASK)
#define ERRNUM(error) ((error)&ERRNUM_MASK)
#define IS_STRING(code) (((code)&STRING_MASK) != 0)

#define PKG_OS 0x0100
#define PKG_NSF 0x0200
#define PKG_NIF 0x0300
#define PKG_NSF2 0x0380
#define PKG_MISC 0x0400
#define PKG_ODS 0x0600
#define PKG_NIF2 0x0780
#define PKG_CLIENT 0x0800
#define PKG_BSAFE3 0x0E40
#define PKG_BSAFE5 0x0F40
#define PKG_NSF5 0x1070
#define PKG_NSF3 0x1380
#define PKG_BSAFE 0x1700
#define PKG_SECURE 0x1900
#define PKG_XML 0x1B00

#include "bsafeerr.h"
#include "clerr.h"
#include "miscerr.h"
#include "niferr.h"
#include "nsferr.h"
#include "odserr.h"
#include "oserr.h"
#include "secerr.h"

#endif
