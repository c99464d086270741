/* The whole Notes C API surface the reader uses. */
#ifndef NOTES_NOTES_H
#define NOTES_NOTES_H

#include "colorods.h"
#include "editdflt.h"
#include "editods.h"
#include "fontid.h"
#include "global.h"
#include "globerr.h"
#include "idtable.h"
#include "intl.h"
#include "kfm.h"
#include "mailserv.h"
#include "mime.h"
#include "mimeods.h"
#include "misc.h"
#include "nsfdata.h"
#include "nsfdb.h"
#include "nsfnote.h"
#include "nsfole.h"
#include "nsfsearc.h"
#include "ods.h"
#include "odstypes.h"
#include "osenv.h"
#include "osfile.h"
#include "osmem.h"
#include "osmisc.h"
#include "pool.h"
#include "stdnames.h"
#include "xml.h"

#endif
