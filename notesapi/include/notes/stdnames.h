/* Standard item names. */
#ifndef NOTES_STDNAMES_H
#define NOTES_STDNAMES_H

#define ITEM_NAME_FONTS "$Fonts"
#define ITEM_NAME_ATTACHMENT "$FILE"
#define ITEM_NAME_LINK "$Links"
#define FIELD_LINK "$REF"
#define MAIL_BODY_ITEM "Body"
#define SUBJECT_ITEM "Subject"
#define FIELD_FORM "Form"
#define ITEM_NAME_TEMPLATE "$Body"
#define ITEM_IS_NATIVE_MIME "$NoteHasNativeMIME"
#define ITEM_NAME_NOTE_SIGNATURE "$Signature"
#define MAIL_MIME_VERSION "MIME_Version"
#define ITEM_MIMETRACK "$MIMETrack"
#define MAIL_POSTEDDATE_ITEM "PostedDate"
#define MAIL_SENDTO_ITEM "SendTo"
#define MAIL_COPYTO_ITEM "CopyTo"
#define MAIL_BLINDCOPYTO_ITEM "BlindCopyTo"
#define MAIL_FROM_ITEM "From"
#define MAIL_ID_ITEM "$MessageID"
#define MAIL_RECEIVED_ITEM "Received"
#define IMSG_STORAGE_ITEM "$MessageStorage"
#define IMSG_RFC822_MSG_FILE_NAME "$RFC822.eml"

#endif
