/*
 * classic: a file-based store of named items shared by the programs of a
 * CAD host system.
 *
 * This header is the whole exported interface of the library: the status
 * codes, the open-flag values, the records exchanged with callers and the
 * classic_* functions.  It can be included from C and from C++.
 *
 * Every exported function runs on the caller's thread and keeps its working
 * state in process-wide variables: a process calls the library from one
 * thread at a time.
 */
#ifndef CLASSIC_H
#define CLASSIC_H

#include <stdint.h>
#include <stdio.h>

/* CLASSIC_API marks the exported names.  The library's own build defines it
 * (default visibility on ELF systems); callers need not.  A caller that wants
 * __declspec(dllimport) on Windows may define it before including this
 * header. */
#ifndef CLASSIC_API
#define CLASSIC_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Status codes.  One family for the whole library; 1 is success.
 * ------------------------------------------------------------------------ */
#define CLASSIC_OK               1    /* done */
#define CLASSIC_NO_MORE          999  /* no (more) entries or items */
#define CLASSIC_OK_REMOVABLE     1000 /* done, on a control file of drive A: or B: */
#define CLASSIC_NO_MEMORY        1001 /* memory exhausted while building a list */
#define CLASSIC_IO_ERROR         1002 /* read, write, seek or open failure; unrepairable trailer */
#define CLASSIC_CANNOT_CREATE    1003 /* control file cannot be created */
#define CLASSIC_CANNOT_REMOVE    1004 /* control file cannot be removed; no usable translation entry */
#define CLASSIC_ITEMS_OPEN       1005 /* items of the control file are open */
#define CLASSIC_NAME_IN_USE      1006 /* name already in use */
#define CLASSIC_NOT_FOUND        1007 /* name not found */
#define CLASSIC_RETRY            1009 /* transient condition, retried by item creation */
#define CLASSIC_NOT_OPEN         1010 /* close of an item that is not open */
#define CLASSIC_READERS_PRESENT  1011 /* item stayed open for reading by others */
#define CLASSIC_LOCKED           1012 /* item or control file stayed locked, or trailer repaired */
#define CLASSIC_BAD_VERSION      1014 /* control-file format version neither 3 nor 4 */
#define CLASSIC_CANNOT_OPEN      1015 /* control file cannot be opened */
#define CLASSIC_AREA_LOCKED      1018 /* area locked */
#define CLASSIC_LOGINS_PRESENT   1019 /* logins present, area lock not forced */
#define CLASSIC_LOCK_FORCED      1020 /* area lock forced over logins */
#define CLASSIC_OPEN_ITEMS       1021 /* control file with open items */
#define CLASSIC_NO_AREA_LOCK     1022 /* area lock expected but not present */
#define CLASSIC_CTL_FULL         1023 /* control file full (32767 entries) */

/* ------------------------------------------------------------------------
 * Open flags and permissions of classic_lock_open_ex and classic_lock_open.
 * These are the values of the Windows C runtime, taken on every system, so a
 * host program passes the same numbers everywhere.
 * ------------------------------------------------------------------------ */
#define CLASSIC_O_RDONLY  0x0000
#define CLASSIC_O_WRONLY  0x0001
#define CLASSIC_O_RDWR    0x0002
#define CLASSIC_O_APPEND  0x0008
#define CLASSIC_O_CREAT   0x0100
#define CLASSIC_O_TRUNC   0x0200
#define CLASSIC_O_EXCL    0x0400
#define CLASSIC_O_TEXT    0x4000
#define CLASSIC_O_BINARY  0x8000

#define CLASSIC_S_IREAD   0x0100
#define CLASSIC_S_IWRITE  0x0080

/* ------------------------------------------------------------------------
 * Logins
 * ------------------------------------------------------------------------ */

/* Always 1: every area is accessible. */
CLASSIC_API int classic_accessable(void);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CLASSIC_H */
