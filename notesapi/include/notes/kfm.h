/* Key file management: the user ID the process works under. */
#ifndef NOTES_KFM_H
#define NOTES_KFM_H

#include "global.h"

#define fKFM_switchid_DontSetEnvVar 0x00000008

NOTESAPI_BEGIN_DECLS

/* Switches the whole process to the ID file; the user's name goes to retUserName. */
NOTESAPI STATUS LNPUBLIC SECKFMSwitchToIDFile(char *pIDFileName, char *pPassword, char *retUserName,
                                              WORD MaxUserNameLength, DWORD SwitchIdFlags, void *pReserved);

NOTESAPI_END_DECLS

#endif
