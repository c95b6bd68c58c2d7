// Logins of workstations to storage areas.
#include "classic.h"

int classic_accessable(void) { return 1; }
