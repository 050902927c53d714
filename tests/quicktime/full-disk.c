/* A disk that fills up, for Wine programs under test. Preloaded into wine64
 * (LD_PRELOAD), it lets writes to files whose name starts with "full-disk"
 * go no further than the byte count in the file named by
 * SKELBY_FULL_DISK_LIMIT: a write that would pass it is cut short, and one
 * at the limit fails with ENOSPC, which Wine reports as ERROR_DISK_FULL.
 * The limit is read again on every write, so a test can "free space" by
 * rewriting it. Every other file is written untouched. It builds for the
 * machine of each Wine: x86-64 for wine64, i386 for the 32-bit Wine, where
 * off_t is 32 bits and Wine writes through pwrite64 with a 64-bit offset. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

/* The limit for fd, or -1 when fd is not a full-disk file. */
static long long limitFor(int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return -1;
  path[n] = '\0';
  const char* slash = strrchr(path, '/');
  if (strncmp(slash ? slash + 1 : path, "full-disk", 9) != 0) return -1;
  const char* control = getenv("SKELBY_FULL_DISK_LIMIT");
  if (!control) return -1;
  FILE* f = fopen(control, "r");
  if (!f) return -1;
  long long limit = -1;
  if (fscanf(f, "%lld", &limit) != 1) limit = -1;
  fclose(f);
  return limit;
}

/* How many of `count` bytes may be written to fd at `*at` (at its current
 * position when `at` is null); -1, errno ENOSPC, when none may. Looking at
 * the file leaves the errno its writer sees alone. */
static ssize_t allowed(int fd, const off64_t* at, size_t count) {
  const int saved = errno;
  const long long limit = limitFor(fd);
  const off64_t where = limit < 0 ? -1 : at ? *at : lseek64(fd, 0, SEEK_CUR);
  errno = saved;
  if (where < 0 || count == 0) return (ssize_t)count;
  if (where >= limit) {
    errno = ENOSPC;
    return -1;
  }
  return (unsigned long long)where + count > (unsigned long long)limit ? (ssize_t)(limit - where)
                                                                       : (ssize_t)count;
}

ssize_t write(int fd, const void* buf, size_t count) {
  static ssize_t (*real)(int, const void*, size_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  const ssize_t n = allowed(fd, NULL, count);
  return n < 0 ? -1 : real(fd, buf, (size_t)n);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t at) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
  const off64_t where = at;
  const ssize_t n = allowed(fd, &where, count);
  return n < 0 ? -1 : real(fd, buf, (size_t)n, at);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off64_t at) {
  static ssize_t (*real)(int, const void*, size_t, off64_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
  const ssize_t n = allowed(fd, &at, count);
  return n < 0 ? -1 : real(fd, buf, (size_t)n, at);
}
