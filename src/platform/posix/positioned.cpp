// Reads and writes at a given offset, for the direct streams of
// the common part: one call each, the descriptor's position untouched.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/backend.h"
#include "platform/posix/posix_files.h"

namespace {

// The call made again for as long as a signal interrupts it.
template <class Call>
long uninterrupted(Call call) {
  ssize_t n;
  do {
    n = call();
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

}  // namespace

long backend_pread(int fd, void* buf, size_t count, int64_t offset) {
  if (!posix_may_read(fd)) return -1;
  return uninterrupted([&] { return pread(fd, buf, count, static_cast<off_t>(offset)); });
}

long backend_pwrite(int fd, const void* buf, size_t count, int64_t offset) {
  if (!posix_may_write(fd)) return -1;
  return uninterrupted([&] { return pwrite(fd, buf, count, static_cast<off_t>(offset)); });
}

int64_t backend_file_length(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}
