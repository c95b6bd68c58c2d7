// Item names: the canonical form every name is stored and searched in, and
// the order of names in a control file.
#pragma once

// Writes length bytes of the canonical form of name into key: leading blanks
// dropped, trailing white space dropped, letters upper-cased (double-byte
// characters untouched), NUL-padded to length and not terminated when the
// name fills it.  Callers use length 20 (ITEM_NAME_SIZE).
void normalize_item_name(char* key, const char* name, int length);

// The order of control-file entries: negative when a sorts before b, 0 when
// equal, positive when after.  Runs of digits compare as numbers (ITEM9 <
// ITEM10 < ITEM010), other bytes by a collation table in which a to z weigh
// as A to Z; under a double-byte code page, double-byte characters compare
// by their codes.  Reads at most n bytes of either name and never past a
// NUL in a; a NUL in a ends the comparison as equal wherever b weighs 0.
int compare_item_names(const char* a, const char* b, int n);

// Forgets the code-page tables, so that the next comparison reads the code
// page again (reset_ctl_state does too).
void reset_names_state();
