// Opening, creating and closing items: the internal steps behind
// classic_open_item and classic_close_item.
#pragma once

#include <cstdio>

#include "classic.h"
#include "ctl/records.h"
#include "ctl/session.h"

// The attempt budget of an item operation, shared by all its waits.
constexpr int ITEM_ATTEMPTS = 41;
// The most readers an item's open state can count.
constexpr int ITEM_MAX_READERS = 127;

// Opens the item of the current entry; the control file stands just past the
// entry.  1, 1002, 1007 or a translation status.
int open_existing_item(FILE** stream, FILE* ctl, int mode, const char* ctl_path,
                       const char* pattern, const char* user);

// Creates a new item (or a new version of the current entry when mode holds
// ITEM_REPLACE) under the normalised key; the control file stands just past
// the old entry or the insertion point.  1 with *stream positioned at the
// new slot's data; 1011 and 1012 ask the caller to wait and try again.
int create_item(FILE* ctl, FILE** stream, int mode, const char* key, const char* ctl_path,
                const char* pattern, const CTRL_ENTRY_INFO* info, const CtlEntry* old,
                const char* user);

// Tells the waits that follow that they wait for the item of entry e of the
// control file at ctl_path, and who holds it.
void wait_about_item(const char* ctl_path, const CtlEntry& e);

// Opens session for update and finds the closed item key in it, waiting for
// an open one (41 attempts, 1162 ms apart, the control file unlocked in
// between).  1 with the session open and the entry in the current entry;
// otherwise the session is closed and the search result, the session's
// status, or 1012 / 1011 when a writer / readers stayed (reported with
// writer_report / readers_report; 0 reports nothing).
int find_closed_item(CtlSession& session, const char* ctl_path, const char* key,
                     uint16_t writer_report, uint16_t readers_report);

// Searches the deleted tail backwards for the normalised key (through the
// entry window).  1: found (out holds the entry, *at its offset); 1007; 1002.
int find_deleted_entry(FILE* ctl, const char* key, CtlEntry* out, long* at);

// Opens an item's data for a raw transfer under a read session that stays
// open (also after most failures) until the caller closes it.  1 with *data
// positioned at the item's first byte (the caller closes it); 1007; 1002;
// 1012 when a writer stayed through the attempts (nothing held then); or a
// session or translation status.
int open_raw_item(CtlSession& session, const char* ctl_path, const char* name, const char* pattern,
                  FILE** data);
