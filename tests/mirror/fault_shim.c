/* Loaded into the mirror tool with LD_PRELOAD by its tests; each role is
 * switched on by the environment:
 *   FAULT_FOLDER, FAULT_NAME (and FAULT_ERRNO, EIO when unset): looking at the
 *   entry FAULT_NAME of the folder FAULT_FOLDER with fstatat or statx fails
 *   with that error, as on a failing disk; every other look succeeds.
 *   SYNC_LOG: each syncfs, fsync and fdatasync appends "call path" to it.
 *   EVENT_LOG: each file the tool creates (openat with O_CREAT or O_TMPFILE)
 *   appends "pid nanoseconds create", and the tool's exit "pid nanoseconds
 *   exit", the time read from CLOCK_MONOTONIC. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static void FdPath(int fd, char* out, size_t size) {
  char link[64];
  ssize_t n;
  if (fd == AT_FDCWD) {
    if (!getcwd(out, size)) out[0] = 0;
    return;
  }
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  n = readlink(link, out, size - 1);
  out[n < 0 ? 0 : n] = 0;
}

/* Whether looking at `name` relative to `dirfd` is to fail, and with what. */
static int Fault(int dirfd, const char* name) {
  const char* folder = getenv("FAULT_FOLDER");
  const char* target = getenv("FAULT_NAME");
  const char* code = getenv("FAULT_ERRNO");
  char path[PATH_MAX * 2];
  if (!folder || !target || !name || !*name) return 0;
  if (name[0] == '/') {
    snprintf(path, sizeof path, "%s", name);
  } else {
    FdPath(dirfd, path, PATH_MAX);
    snprintf(path + strlen(path), sizeof path - strlen(path), "/%s", name);
  }
  char wanted[PATH_MAX * 2];
  snprintf(wanted, sizeof wanted, "%s/%s", folder, target);
  if (strcmp(path, wanted) != 0) return 0;
  return code ? atoi(code) : EIO;
}

#define NEXT(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

int fstatat(int dirfd, const char* name, struct stat* st, int flags) {
  const int fault = Fault(dirfd, name);
  if (fault) {
    errno = fault;
    return -1;
  }
  return NEXT(fstatat)(dirfd, name, st, flags);
}

int fstatat64(int dirfd, const char* name, struct stat64* st, int flags) {
  const int fault = Fault(dirfd, name);
  if (fault) {
    errno = fault;
    return -1;
  }
  return NEXT(fstatat64)(dirfd, name, st, flags);
}

int statx(int dirfd, const char* name, int flags, unsigned int mask, struct statx* st) {
  const int fault = Fault(dirfd, name);
  if (fault) {
    errno = fault;
    return -1;
  }
  return NEXT(statx)(dirfd, name, flags, mask, st);
}

static void LogSync(const char* call, int fd) {
  const char* log = getenv("SYNC_LOG");
  char path[PATH_MAX], line[PATH_MAX + 32];
  int out, length;
  if (!log) return;
  FdPath(fd, path, sizeof path);
  length = snprintf(line, sizeof line, "%s %s\n", call, path);
  out = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (out < 0) return;
  if (write(out, line, (size_t)length) < 0) { /* a test log: nothing to do */
  }
  close(out);
}

int syncfs(int fd) {
  LogSync("syncfs", fd);
  return NEXT(syncfs)(fd);
}

int fsync(int fd) {
  LogSync("fsync", fd);
  return NEXT(fsync)(fd);
}

int fdatasync(int fd) {
  LogSync("fdatasync", fd);
  return NEXT(fdatasync)(fd);
}

static void LogEvent(const char* what) {
  const char* log = getenv("EVENT_LOG");
  struct timespec now;
  char line[96];
  int out, length;
  if (!log) return;
  clock_gettime(CLOCK_MONOTONIC, &now);
  length = snprintf(line, sizeof line, "%d %lld %s\n", (int)getpid(),
                    (long long)now.tv_sec * 1000000000LL + now.tv_nsec, what);
  out = NEXT(open)(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (out < 0) return;
  if (write(out, line, (size_t)length) < 0) { /* a test log: nothing to do */
  }
  close(out);
}

/* The mode of an open that creates a file, logged as a creation; 0 otherwise. */
static mode_t CreationMode(int flags, va_list args) {
  if (!(flags & O_CREAT) && (flags & __O_TMPFILE) != __O_TMPFILE) return 0;
  LogEvent("create");
  return va_arg(args, mode_t);
}

int openat(int dirfd, const char* name, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = CreationMode(flags, args);
  va_end(args);
  return NEXT(openat)(dirfd, name, flags, mode);
}

int openat64(int dirfd, const char* name, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const mode_t mode = CreationMode(flags, args);
  va_end(args);
  return NEXT(openat64)(dirfd, name, flags, mode);
}

__attribute__((destructor)) static void LogExit(void) { LogEvent("exit"); }
