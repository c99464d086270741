/* Security package status codes. */
#ifndef NOTES_SECERR_H
#define NOTES_SECERR_H

#define ERR_SECURE_NOKEYFILE 0x1902
#define ERR_SECURE_BADPASSWORD 0x1908

#endif
