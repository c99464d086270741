/* Client package status codes. */
#ifndef NOTES_CLERR_H
#define NOTES_CLERR_H

#define ERR_NOT_IMPLEMENTED 0x0805
#define ERR_SERVER_NOT_RESPONDING 0x0807

#endif
