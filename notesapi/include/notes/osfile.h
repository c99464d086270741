/* File type masks for directory searches (NSFSearch with SEARCH_FILETYPE). */
#ifndef NOTES_OSFILE_H
#define NOTES_OSFILE_H

#define FILE_ANY 0
#define FILE_DBREPL 1
#define FILE_DBDESIGN 2
#define FILE_MAILBOX 3
#define FILE_DBANY 4
#define FILE_FTANY 5
#define FILE_MDMTYPE 6
#define FILE_DIRSONLY 7
#define FILE_VPCTYPE 8
#define FILE_SCRTYPE 9
#define FILE_ANYNOTEFILE 10
#define FILE_UNIQUETEMP 11
#define FILE_MULTICLN 12
#define FILE_SMARTI 13
#define FILE_DBREP_REDIR 14
#define FILE_TYPEMASK 0x00FF
#define FILE_SKIPDAOS 0x0100
#define FILE_SKIPJS 0x0200
#define FILE_NOUPDIRS 0x4000
#define FILE_DIRS 0x8000

#endif
