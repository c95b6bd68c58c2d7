// What the Linux file calls share: the access an open asked for, where the
// descriptor underneath was opened for more (see files.cpp).
#pragma once

// True when the descriptor may read (write) as its open asked; otherwise
// false with errno EBADF, as the Windows runtime fails such a call.
bool posix_may_read(int fd);
bool posix_may_write(int fd);
