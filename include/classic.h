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

#ifdef __cplusplus
#include <vector>
#endif

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
 * Records exchanged with callers byte for byte.  Bytes not named (the
 * reserved ones) are neither read nor written by the library.
 * ------------------------------------------------------------------------ */
#pragma pack(push, 1)

/* One entry of a control file as callers see it: 192 bytes on 32-bit
 * systems; on 64-bit systems the two list pointers take 8 bytes each
 * (previous at 184, next at 192, 200 bytes in all). */
typedef struct CTRL_ENTRY_INFO {
    char     name[21];          /*   0  item name, NUL-terminated */
    char     reserved21[5];
    int8_t   open_state;        /*  26  -1 writer, 0 closed, n readers */
    uint8_t  version;           /*  27  control-file format version */
    uint8_t  flags;             /*  28  2 = deleted; other bits carried */
    char     reserved29;
    uint32_t created;           /*  30  seconds since 1970 (UTC) */
    char     creator[4];        /*  34  user id, 3 characters and a NUL */
    char     reserved38[38];
    uint32_t modified;          /*  76 */
    char     modifier[4];       /*  80 */
    char     reserved84[38];
    uint32_t prev_modified;     /* 122 */
    char     prev_modifier[4];  /* 126 */
    char     reserved130[38];
    int32_t  size;              /* 168  bytes of the item's data */
    uint16_t attribute;         /* 172 */
    uint16_t attribute2;        /* 174 */
    uint8_t  found;             /* 176  1 from a look-up or open, 0 in lists */
    char     reserved177;
    uint32_t accessed;          /* 178 */
    uint8_t  creator_task;      /* 182 */
    uint8_t  writer_task;       /* 183 */
    struct CTRL_ENTRY_INFO* prev; /* 184  list links; null outside lists */
    struct CTRL_ENTRY_INFO* next;
} CTRL_ENTRY_INFO;

/* The counters of a control file's trailer (12 bytes). */
typedef struct CTRL_TRAILER_INFO {
    char     suffix[3];         /*  0  data file being filled, no NUL */
    uint8_t  next_slot;         /*  3 */
    int32_t  total_items;       /*  4  live entries */
    uint16_t open_count;        /*  8  items now open */
    uint8_t  lock_marker;       /* 10 */
    uint8_t  version;           /* 11  format version */
} CTRL_TRAILER_INFO;

#pragma pack(pop)

/* ------------------------------------------------------------------------
 * Paths and network
 * ------------------------------------------------------------------------ */

/* Translates a caller's path into the path file operations use (out holds
 * 300 bytes and is written only on success).  1; 1004 when the name has no
 * usable translation entry or the path is too long; 1002 when the
 * translation record cannot be read. */
CLASSIC_API int classic_netxlat(const char* path, char* out);
/* Switch network translation on or off; each returns the previous flag. */
CLASSIC_API int classic_enable_network(void);
CLASSIC_API int classic_disable_network(void);
/* Creates the translation control file; the result of
 * classic_create_control_file. */
CLASSIC_API int classic_net_ctrl_creat(void);

/* The workstation's network drive ('!' for none), server drive (NUL for
 * none), node name and its copy (5 bytes each). */
CLASSIC_API void classic_get_driveinfo(char* network_drive, char* server_drive, char* node,
                                       char* node_copy);

/* ------------------------------------------------------------------------
 * Areas and devices
 * ------------------------------------------------------------------------ */

/* The storage areas matching pattern (drive letter first; last component
 * "*" for all areas or one area name): their number, or their names in
 * slots of width bytes (each cut to width - 1 characters and NUL-filled).
 * On entry *count of classic_get_area_names is the number of slots; on
 * return it is the number of names stored.  Both always return 1. */
CLASSIC_API int classic_get_area_count(const char* pattern, unsigned long* count);
CLASSIC_API int classic_get_area_names(const char* pattern, char* names, int width,
                                       unsigned long* count);
/* Removes an area's registration, the files of the area folder
 * <drive>:\userroot\storage\<area> and of its DATA and PARAM folders, and
 * those three folders: 1 when all three are gone, else 1002 (a folder that
 * holds a sub-folder stays). */
CLASSIC_API int classic_delete_area(const char* drive, const char* area);
/* Moves an area folder to new_path, carrying its registration along: 1 when
 * the folder was moved, else 0 (the registration then stays as it was). */
CLASSIC_API int classic_rename_area(const char* old_path, const char* new_path);
/* The storage devices: "@:" for network storage, A:, and every drive with
 * a storage tree.  classic_get_device_names stores them in slots of width
 * bytes; *count is the number of slots on entry, of names on return. */
CLASSIC_API unsigned long classic_get_device_count(void);
CLASSIC_API unsigned long classic_get_device_names(char* names, int width, int* count);
/* Free bytes on the drive of path (C: for a path without drive); 0 when the
 * drive cannot be asked. */
CLASSIC_API double classic_amt_free_disk_space(const char* path);

/* ------------------------------------------------------------------------
 * Control files
 * ------------------------------------------------------------------------ */

/* Creates a new, empty control file: 1, 1003 when it cannot be created
 * (it exists), 1002, or the translation status. */
CLASSIC_API int classic_create_control_file(const char* path);
/* Reads a trailer without locking it: 1, 1002 or 1015.  Out-parameters may
 * be null.  classic_check_trailer translates the path and tries 40 times;
 * classic_check_trailer_ex uses the path as given and tries `tries` times. */
CLASSIC_API int classic_check_trailer(const char* path, int* version, int* lock_state,
                                      int* total_items);
CLASSIC_API int classic_check_trailer_ex(const char* path, int tries, int* version,
                                         int* lock_state, int* total_items);
/* Copies the trailer's counters into info inside a read session: 1, or the
 * session's failure status (info untouched), or 1002 from its close. */
CLASSIC_API int classic_ctl_file_stats(const char* path, CTRL_TRAILER_INFO* info);

/* Reads the live entry of an item: 1 (info filled when given), 1007, 1002,
 * or the session's failure status. */
CLASSIC_API int classic_lookup_item(const char* path, const char* name, CTRL_ENTRY_INFO* info);
/* Overwrites the stamps and attributes of an item's entry from info (the
 * entry alone, not its data file).  The caller keeps the name equal, under
 * the store's order, to the one it replaces and leaves the deleted flag
 * clear.  Results as classic_lookup_item. */
CLASSIC_API int classic_overwrite_ctrl_entry(const char* path, const char* name,
                                             const CTRL_ENTRY_INFO* info);
/* Removes a control file and its data files (from suffix aaa up to the
 * first gap): 1, 1005 while items are open, 1004 when the control file
 * cannot be removed, or a session or translation status. */
CLASSIC_API int classic_delete_control_file(const char* path, const char* pattern);
/* The total items of the control file of the last session or trailer read. */
CLASSIC_API int classic_getcurrent_total_items(void);
/* Total items of the control file of the last classic_get_blk_items call. */
CLASSIC_API extern int32_t classic_blk_count;

/* ------------------------------------------------------------------------
 * Items
 * ------------------------------------------------------------------------ */

/* Open modes of classic_open_item (bits).  0 opens for reading, 1 for
 * writing, 3 creates, 7 creates or replaces. */
#define ITEM_WRITE         1    /* open for writing */
#define ITEM_CREATE        2    /* with ITEM_WRITE: create a new item */
#define ITEM_REPLACE       4    /* with both: a new version of an existing item */
#define ITEM_GIVEN_STAMPS  8    /* take the stamps from the caller's record */
#define ITEM_STAMP_ACCESS  16   /* set the accessed time */
#define ITEM_RETURN_INFO   64   /* fill the caller's record after the open */
#define ITEM_RETAIN        128  /* keep the control file open and locked */

/* Opens or creates an item.  On success *stream is the item's data-file
 * stream, positioned at its first byte, to be handed back to
 * classic_close_item; *size (when given) the size of an existing item.
 * 1; 1002; 1006 name in use; 1007 not found; 1011 readers stayed; 1012
 * writer stayed or trailer repaired; 1023 control file full; or a session
 * or translation status. */
CLASSIC_API int classic_open_item(const char* ctl_path, const char* name, short mode,
                                  const char* pattern, FILE** stream, long* size,
                                  CTRL_ENTRY_INFO* info);
/* Ends an open: closes the stream, releases the item and, for a new item,
 * fixes its size.  1; 1002; 1007; 1010 the item is not open; or a session
 * status.  On the failures before the stream is closed the caller still
 * owns it. */
CLASSIC_API int classic_close_item(const char* ctl_path, const char* name, FILE* stream);

/* Deletes an item: its entry moves to the deleted tail; its bytes stay.
 * Waits for an open item.  1; 1002; 1007; 1011 readers stayed; 1012 a
 * writer stayed; or a session status. */
CLASSIC_API int classic_delete_item(const char* ctl_path, const char* name, const char* pattern);
/* Brings back the most recently deleted version of a name: 1; 1006 a live
 * item has the name; 1007 none deleted; 1002; or a session status. */
CLASSIC_API int classic_undelete_item(const char* ctl_path, const char* name,
                                      const char* pattern);
/* Renames a closed item (waiting for an open one): 1; 1002; 1006 the new
 * name is in use (also when it is the old one); 1007; 1011; 1012; or a
 * session or translation status. */
CLASSIC_API int classic_rename_item(const char* ctl_path, const char* old_name,
                                    const char* new_name, const char* pattern);
/* Sets an item's 16-bit attribute, open or not.  Note the order: the pattern
 * comes before the name.  1; 1007; 1002; or a session status. */
CLASSIC_API int classic_set_attribute(const char* ctl_path, const char* pattern, const char* name,
                                      short attribute);

/* Raw transfer: an item's bytes under a read session held for the whole
 * transfer (the item is not registered as open; a writer is waited for).
 * Streams are C streams passed as pointers.  Results: 1; 1002; 1007; 1012
 * a writer stayed; or a session or translation status. */
CLASSIC_API int classic_copy_raw_item(const char* ctl_path, const char* name, const char* pattern,
                                      unsigned long* dest);
#ifdef __cplusplus
/* The item's bytes into out (emptied, with its storage released, on a failed
 * read; an item of size 0 gives 1002). */
CLASSIC_API int classic_read_raw_item(const char* ctl_path, const char* name, const char* pattern,
                                      std::vector<char>& out);
#endif
/* Copies count bytes from stream src to stream dst: 1, or 1002 when a read
 * or write falls short. */
CLASSIC_API int classic_copy_file(unsigned long* src, unsigned long* dst, long count);

/* ------------------------------------------------------------------------
 * Item lists
 *
 * Patterns: letters match either case; '*' any run of characters, '?' any
 * one byte, '?+' a run of at least one; a character followed by '*' or '+'
 * a run of that character; '\' makes the next character literal.  Only the
 * first 20 bytes of a pattern count.  Deleted items are never listed.
 * ------------------------------------------------------------------------ */

/* Every item of the control file ctl whose name matches pattern, from byte
 * *offset of the file on, as a list of records linked through prev/next in
 * file order, which the caller frees with classic_free_item_list.  Returns
 * the first record (null when nothing matched or on failure).  *status: 1;
 * the open's status; 1002 when *offset cannot be reached or a pointer is
 * null; 1001 when memory ran out; 0 when a block could not be read.  *more
 * is 1 when the list stopped at 35,552 records.  On success *offset grows
 * by 64 x records and *position is the last block's first entry index plus
 * the records. */
CLASSIC_API CTRL_ENTRY_INFO* classic_return_item_list(const char* ctl, const char* pattern, long* offset, long* position, char* more, int* status);
/* One block of at most max (and at most 42) matching items, scanning from
 * byte *offset of ctl.  1: *items is the first of the records, which the
 * library owns (linked through prev/next; the next call overwrites them),
 * *first the byte offset of the first record's entry and *offset where the
 * next call resumes.  999 when no (more) items match or a block cannot be
 * read, 1002 when *offset cannot be reached or a pointer is null, else the
 * open's status.  Every call whose open succeeded sets classic_blk_count. */
CLASSIC_API int classic_get_blk_items(const char* ctl, const char* pattern, int max, long* offset, long* first, CTRL_ENTRY_INFO** items);
/* Frees a list of classic_return_item_list through its next links: 1, also
 * for a null head. */
CLASSIC_API int classic_free_item_list(CTRL_ENTRY_INFO* head);

/* ------------------------------------------------------------------------
 * Lay rules: the items of <area>lyrl.ctl (area ends with a separator; with
 * "lyrl.ctl" at most 255 characters).  A category or prefix is a pattern
 * that ends with a wildcard; the text before that wildcard (at most 20
 * bytes count) is what every name of the category begins with.
 * ------------------------------------------------------------------------ */

/* Lists the lay rules matching category block by block, starting at the
 * category's first rule: the first call passes *offset and *first 0, later
 * calls pass back what the previous one left; *items as in
 * classic_get_blk_items.  1 (also when the file cannot be opened for the
 * search: nothing listed), 999 when no (more) rules match, 1007 when no
 * rule begins with the category or it is null or empty, 1004 when the area
 * is null or too long, 1002 on a read failure or a null pointer, or the
 * status of the statistics read. */
CLASSIC_API int classic_find_layrule_catgy(const char* area, const char* category, long* offset, long* first, CTRL_ENTRY_INFO** items);
/* *next = the first free number of the rules matching prefix whose names
 * carry '_' at byte 15 and a number after it: 1 when none is numbered, else
 * one past the unbroken run from the lowest number.  1; 0 when the file
 * cannot be read or holds no item; 1007, 1004, 1002 as above; 999 when the
 * rules matching prefix ran out before the file's item count. */
CLASSIC_API int classic_find_next_layrule(const char* area, const char* prefix, int* next);

/* ------------------------------------------------------------------------
 * Lock files
 * ------------------------------------------------------------------------ */

/* Opens path exclusively (every other open refused) with a byte lock on
 * byte 0, for files that several programs update.  oflag and pmode take the
 * CLASSIC_O_* and CLASSIC_S_* values.  A busy file is retried `delay` ms
 * apart; tries - 1 attempts are made (no limit for tries <= 0).  Returns the
 * stream, or null (a spent budget is written to the error log). */
CLASSIC_API FILE* classic_lock_open_ex(const char* path, int oflag, int pmode, int tries,
                                       int delay);
/* The same with 41 tries 1162 ms apart. */
CLASSIC_API FILE* classic_lock_open(const char* path, int oflag, int pmode);
/* Releases the byte lock and closes a stream of the opener. */
CLASSIC_API void classic_lock_close(FILE* stream);

/* ------------------------------------------------------------------------
 * Logins
 * ------------------------------------------------------------------------ */

/* Logs this workstation in to the area (its folder path, without a trailing
 * separator) under tag (0 to 3 characters): a login file named "log", the
 * node name in four places ('-' for blanks), "." and the tag, and one more
 * count in login.ctl.  1; 0 for a longer tag; 1002 when the login file
 * cannot be made; else the session or translation status (1018 while the
 * area is locked, 1015 without login.ctl).  Areas on A: and B: give 1 and
 * are not touched. */
CLASSIC_API int classic_login_area(const char* area, const char* tag);
/* Deletes the login file and lowers the counts (never below 0).  Results as
 * classic_login_area; a missing login file is no error. */
CLASSIC_API int classic_logout_area(const char* area, const char* tag);
/* Creates or deletes the area's login.ctl: the result of
 * classic_create_control_file or classic_delete_control_file; 1 on A: and
 * B:. */
CLASSIC_API int classic_login_create(const char* area);
CLASSIC_API int classic_login_delete(const char* area);
/* Always 1: every area is accessible. */
CLASSIC_API int classic_accessable(void);

/* ------------------------------------------------------------------------
 * Area locks
 *
 * area is the area's folder path ending with a separator.  An area lock
 * marks login.ctl and every control file of data\ and param\ as held by an
 * area lock until classic_area_unlock; other sessions on them are refused
 * with 1018 meanwhile.  Results: 1; 1000 on A: or B: (nothing changed);
 * 1018 when already locked; 1019 when logins are counted and force is 0;
 * 1020 when forced over logins (the login files are deleted and the counts
 * cleared); 1021 when a control file had open items (it is marked all the
 * same); 1022 when unlocking finds a file that is not locked; 1004 for a
 * path too long; or a session status.  Every file is visited whatever
 * fails on another.
 * ------------------------------------------------------------------------ */

CLASSIC_API int classic_area_lock(int force, const char* area);
CLASSIC_API int classic_area_unlock(const char* area);

/* ------------------------------------------------------------------------
 * Unique scratch files
 *
 * Names are 8.3 names made from a name template (default "????????") and an
 * extension template (default "???"): every '?' becomes a lower-case
 * hexadecimal digit of the tick count (name) or of the process's scratch
 * counter (extension).  dir defaults to "c:\userroot\temp\"; a '\' is put
 * after it unless it is empty or ends in ':', '\' or '/'.  Paths are at
 * most 259 characters; longer ones fail.  name_out, when given, receives
 * the file name alone (at most 13 bytes with its NUL).
 * ------------------------------------------------------------------------ */

/* Creates and opens a new file under a unique name, trying 11 names.  mode
 * is 'w' and at most two of '+', 'b', 't' (default "w+b"); the file is
 * opened denying other openers.  The stream, or null. */
CLASSIC_API FILE* classic_create_unique(const char* dir, const char* name_template,
                                        const char* ext_template, char* name_out, const char* mode);
/* Opens a scratch file denying other openers (mode default "r+b"); the
 * stream, or null. */
CLASSIC_API FILE* classic_open_unique(const char* dir, const char* name, const char* mode);
/* Renames dir\old_name to a unique name in dir, trying 11 names: 0, or -1
 * with the file left as it was. */
CLASSIC_API int classic_rename_unique(const char* dir, const char* old_name,
                                      const char* name_template, const char* ext_template,
                                      char* name_out);
/* Removes dir\name: 0, or -1. */
CLASSIC_API int classic_remove_unique(const char* dir, const char* name);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CLASSIC_H */
