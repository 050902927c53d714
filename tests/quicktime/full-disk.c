/* A disk that fills up, for Wine programs under test. Preloaded into wine64
 * (LD_PRELOAD), it lets writes to files whose name starts with "full-disk"
 * go no further than the byte count in the file named by
 * SKELBY_FULL_DISK_LIMIT: a write that would pass it is cut short, and one
 * at the limit fails with ENOSPC, which Wine reports as ERROR_DISK_FULL.
 * The limit is read again on every write, so a test can "free space" by
 * rewriting it. Every other file is written untouched. */
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

/* How many of `count` bytes at `at` fit under `limit`; -1 (errno ENOSPC)
 * when none do. */
static ssize_t fitting(long long limit, off_t at, size_t count) {
  if (at < 0 || count == 0) return (ssize_t)count;
  if (at >= limit) {
    errno = ENOSPC;
    return -1;
  }
  return (unsigned long long)at + count > (unsigned long long)limit ? (ssize_t)(limit - at) : (ssize_t)count;
}

/* Looking at the file must not change the errno its writer sees. */
#define FIT(fd, at, count)                         \
  const int saved = errno;                         \
  const long long limit = limitFor(fd);            \
  ssize_t n = (ssize_t)(count);                    \
  if (limit >= 0) n = fitting(limit, (at), count); \
  if (n < 0) return -1;                            \
  errno = saved

ssize_t write(int fd, const void* buf, size_t count) {
  static ssize_t (*real)(int, const void*, size_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  FIT(fd, lseek(fd, 0, SEEK_CUR), count);
  return real(fd, buf, (size_t)n);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t at) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
  FIT(fd, at, count);
  return real(fd, buf, (size_t)n, at);
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t at) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  if (!real) real = (ssize_t(*)(int, const void*, size_t, off_t))dlsym(RTLD_NEXT, "pwrite64");
  FIT(fd, at, count);
  return real(fd, buf, (size_t)n, at);
}
