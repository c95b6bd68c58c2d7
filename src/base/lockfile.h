// The lock-file opener: every shared file (control files, the error log,
// login.ctl) is opened exclusively with the sharing of everybody else denied
// and a byte lock on byte 0 on top; a busy file is retried after a pause.
#pragma once

#include <cstdio>

// The attempt budget and the pause between attempts of every retry loop of
// the library.
constexpr int LOCK_TRIES = 41;
constexpr int LOCK_DELAY_MS = 1162;

// The opener behind classic_lock_open_ex; report false keeps a time-out out
// of the error log (the log uses it to open itself); direct gives a stream
// of plat_fdopen_direct (the control files of sessions).
FILE* lock_open(const char* path, int oflag, int pmode, int tries, int delay, bool report,
                bool direct = false);

// Sleeps ms milliseconds when mode is 1; always returns 1.
int lock_wait(int mode, int ms);

// What the next pauses of lock_wait wait for: the file or the item, and who
// holds it as far as is known (empty when nobody can tell).  A program that
// shows its waits (the classic command) hears of every pause.
void wait_about(const char* what, const char* holder);
using WaitObserver = void (*)(const char* what, const char* holder, int ms);
void set_wait_observer(WaitObserver observer);

// The lower layers' process-wide state (what the waits are about, the
// observer) back to its value at load.
void reset_base_state();

// Stores the report of an opener that spent its attempts (code 54018).  The
// error log, which opens its own file through this opener, implements it:
// the opener reaches the log only through this declaration.
void report_lock_timeout();
