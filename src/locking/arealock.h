// Area locks: a whole storage area taken away from ordinary use by marking
// the trailer of every control file of the area as held by an area lock.
#pragma once

// Locks (lock non-zero) or unlocks the area whose folder path, ending with a
// path separator, is area: login.ctl first, then every *.ctl of its folders
// data\ and param\.  force locks even when logins are counted and deletes
// the login files.  1, 1020 when forced over logins, or the failure of the
// exported calls (1000, 1004, 1018, 1019, 1021, 1022 or a session status).
int set_area_lock(int lock, int force, const char* area);
