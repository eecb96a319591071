/* Loaded into the mirror tool with LD_PRELOAD by its tests; each role is
 * switched on by the environment:
 *   FAULT_FOLDER, FAULT_NAME (and FAULT_ERRNO, EIO when unset): looking at the
 *   entry FAULT_NAME of the folder FAULT_FOLDER with fstatat or statx fails
 *   with that error, as on a failing disk; every other look succeeds.
 *   SYNC_LOG: each syncfs, fsync and fdatasync appends "call path" to it.
 *   SYNCFS_FAIL=n: the n-th syncfs of the process (from 1) fails with EIO, as
 *   when the write-back met a bad block.
 *   COPY_DELAY_US=n: each copy_file_range and pwrite first sleeps n
 *   microseconds: a slow disk, so that a run lasts.
 *   COPY_PAUSE=folder: the first copy_file_range or pwrite creates
 *   folder/paused and waits (30 s at most) until folder/go exists.
 *   LEASE_ERRNO=n: taking a lease (F_SETLEASE) fails with that error, as for a
 *   file of another owner (EACCES) or on a file system without leases.
 *   BECOME_FIFO=path: the first open of that path replaces the file with a
 *   FIFO just before, as if it was swapped after the folder was listed.
 *   FLIP_SOURCE=path, FLIP_OFFSET=n: the copy of that source file gets the
 *   byte at offset n wrong: the pwrite that holds offset n, by a thread whose
 *   last pread was of that file, writes that byte inverted. With
 *   FLIP_ON_DISK=the copy's path, the copy is written right
 *   and flipped on the disk once flushed, through a second descriptor: after
 *   an fdatasync of the copy's descriptor or a sync_file_range that waited
 *   for the write-back of offset n, or, for a copy flushed with the run,
 *   after the first syncfs that finds FLIP_ON_DISK. Past the copy's end
 *   (an empty file) a byte is added there instead.
 *   STOP_AT=write|before-rename|after-rename: the tool is killed (SIGKILL)
 *   half-way through writing a file named XXH128SUMS (or its temporary), or
 *   just before or after renaming a file to that name.
 *   EVENT_LOG: each file the tool creates (openat with O_CREAT or O_TMPFILE)
 *   appends "pid nanoseconds create", the close of a descriptor it holds an
 *   exclusive flock on "pid nanoseconds release", and the tool's exit "pid
 *   nanoseconds exit", the time read from CLOCK_MONOTONIC. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/file.h>
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

/* The path that `name` relative to `dirfd` names. */
static void AtPath(int dirfd, const char* name, char* path, size_t size) {
  if (name[0] == '/') {
    snprintf(path, size, "%s", name);
  } else {
    FdPath(dirfd, path, PATH_MAX);
    snprintf(path + strlen(path), size - strlen(path), "/%s", name);
  }
}

/* Whether looking at `name` relative to `dirfd` is to fail, and with what. */
static int Fault(int dirfd, const char* name) {
  const char* folder = getenv("FAULT_FOLDER");
  const char* target = getenv("FAULT_NAME");
  const char* code = getenv("FAULT_ERRNO");
  char path[PATH_MAX * 2];
  if (!folder || !target || !name || !*name) return 0;
  AtPath(dirfd, name, path, sizeof path);
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

/* The descriptor this thread copies FLIP_SOURCE into; -1: none. */
static __thread int flipOut = -1;

static long long FlipOffset(void) {
  const char* offset = getenv("FLIP_OFFSET");
  return offset ? atoll(offset) : 0;
}

/* Flips the byte at FLIP_OFFSET of the file open as `fd`, through a
 * descriptor of its own, and makes that durable. */
static void FlipOnDisk(int fd) {
  static int flipped;
  char self[64];
  unsigned char byte = 0x5A;
  const long long at = FlipOffset();
  int second;
  if (__atomic_exchange_n(&flipped, 1, __ATOMIC_SEQ_CST)) return; /* one byte, once */
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  second = open(self, O_RDWR | O_CLOEXEC);
  if (second < 0) return;
  if (pread(second, &byte, 1, at) == 1) byte ^= 0xFF;
  if (NEXT(pwrite)(second, &byte, 1, at) == 1) NEXT(fdatasync)(second);
  NEXT(close)(second);
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
  static int calls;
  const char* failing = getenv("SYNCFS_FAIL");
  const char* copy = getenv("FLIP_ON_DISK");
  int result;
  LogSync("syncfs", fd);
  if (failing && __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST) == atoi(failing)) {
    errno = EIO;
    return -1;
  }
  result = NEXT(syncfs)(fd);
  if (copy) {
    const int file = open(copy, O_RDONLY | O_CLOEXEC);
    if (file >= 0) {
      FlipOnDisk(file);
      NEXT(close)(file);
    }
  }
  return result;
}

int fsync(int fd) {
  LogSync("fsync", fd);
  return NEXT(fsync)(fd);
}

int fdatasync(int fd) {
  const int result = (LogSync("fdatasync", fd), NEXT(fdatasync)(fd));
  if (fd == flipOut && getenv("FLIP_ON_DISK")) FlipOnDisk(fd);
  return result;
}

int sync_file_range(int fd, off_t offset, off_t length, unsigned int flags) {
  const int result = NEXT(sync_file_range)(fd, offset, length, flags);
  const long long at = FlipOffset();
  if (fd == flipOut && getenv("FLIP_ON_DISK") && (flags & SYNC_FILE_RANGE_WAIT_AFTER) && at >= offset &&
      at < offset + length)
    FlipOnDisk(fd);
  return result;
}

/* Before each write of a copy: the delay and the pause roles. */
static void BeforeCopy(void) {
  static int paused;
  const char* delay = getenv("COPY_DELAY_US");
  const char* folder = getenv("COPY_PAUSE");
  if (delay) usleep((useconds_t)atoi(delay));
  if (folder && !__atomic_exchange_n(&paused, 1, __ATOMIC_SEQ_CST)) {
    char path[PATH_MAX];
    int fd;
    snprintf(path, sizeof path, "%s/paused", folder);
    fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) close(fd);
    snprintf(path, sizeof path, "%s/go", folder);
    for (int i = 0; i < 30000 && access(path, F_OK) != 0; ++i) usleep(1000);
  }
}

ssize_t copy_file_range(int in, off_t* inOffset, int out, off_t* outOffset, size_t length, unsigned flags) {
  BeforeCopy();
  return NEXT(copy_file_range)(in, inOffset, out, outOffset, length, flags);
}

/* Whether this thread last read from FLIP_SOURCE: its next writes are that file's copy. */
static __thread int flipArmed;

/* pread and pread64 alike: a read of FLIP_SOURCE arms the flip, any other read disarms it. */
#define PREAD(call, offset_t)                                        \
  ssize_t call(int fd, void* data, size_t length, offset_t offset) { \
    const char* flip = getenv("FLIP_SOURCE");                        \
    if (flip) {                                                      \
      char path[PATH_MAX];                                           \
      FdPath(fd, path, sizeof path);                                 \
      flipArmed = strcmp(path, flip) == 0;                           \
    }                                                                \
    return NEXT(call)(fd, data, length, offset);                     \
  }
PREAD(pread, off_t)
PREAD(pread64, off64_t)

/* pwrite and pwrite64 alike: the delay and pause roles, then the flip. */
#define PWRITE(call, offset_t)                                                                     \
  ssize_t call(int fd, const void* data, size_t length, offset_t offset) {                         \
    const long long at = FlipOffset();                                                             \
    BeforeCopy();                                                                                  \
    if (flipArmed) flipOut = fd;                                                                   \
    if (flipArmed && !getenv("FLIP_ON_DISK") && at >= offset && at < offset + (long long)length) { \
      ssize_t written;                                                                             \
      unsigned char* copy = malloc(length);                                                        \
      if (!copy) return NEXT(call)(fd, data, length, offset);                                      \
      memcpy(copy, data, length);                                                                  \
      copy[at - offset] ^= 0xFF;                                                                   \
      written = NEXT(call)(fd, copy, length, offset);                                              \
      free(copy);                                                                                  \
      return written;                                                                              \
    }                                                                                              \
    return NEXT(call)(fd, data, length, offset);                                                   \
  }
PWRITE(pwrite, off_t)
PWRITE(pwrite64, off64_t)

static int Fcntl(int (*next)(int, int, ...), int fd, int cmd, void* arg) {
  const char* code = getenv("LEASE_ERRNO");
  if (code && cmd == F_SETLEASE && (long)arg != F_UNLCK) {
    errno = atoi(code);
    return -1;
  }
  return next(fd, cmd, arg);
}

/* fcntl and fcntl64 alike: the argument, whatever its type, passed on. */
#define FCNTL(call)                         \
  int call(int fd, int cmd, ...) {          \
    va_list args;                           \
    void* arg;                              \
    va_start(args, cmd);                    \
    arg = va_arg(args, void*);              \
    va_end(args);                           \
    return Fcntl(NEXT(call), fd, cmd, arg); \
  }
FCNTL(fcntl)
FCNTL(fcntl64)

/* The BECOME_FIFO role, before an open of `name` relative to `dirfd`. */
static void Swap(int dirfd, const char* name) {
  static int swapped;
  const char* target = getenv("BECOME_FIFO");
  char path[PATH_MAX * 2];
  if (!target || !name || !*name || __atomic_load_n(&swapped, __ATOMIC_SEQ_CST)) return;
  AtPath(dirfd, name, path, sizeof path);
  if (strcmp(path, target) != 0 || __atomic_exchange_n(&swapped, 1, __ATOMIC_SEQ_CST)) return;
  unlink(target);
  mkfifo(target, 0644);
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
  out = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (out < 0) return;
  if (write(out, line, (size_t)length) < 0) { /* a test log: nothing to do */
  }
  close(out);
}

/* Whether an open with `flags` creates a file: only then is there a mode. */
static int Creates(int flags) { return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE; }

/* openat and openat64 alike: the BECOME_FIFO role, then the creation logged. */
#define OPENAT(call)                                      \
  int call(int dirfd, const char* name, int flags, ...) { \
    mode_t mode = 0;                                      \
    if (Creates(flags)) {                                 \
      va_list args;                                       \
      va_start(args, flags);                              \
      mode = va_arg(args, mode_t);                        \
      va_end(args);                                       \
      LogEvent("create");                                 \
    }                                                     \
    Swap(dirfd, name);                                    \
    return NEXT(call)(dirfd, name, flags, mode);          \
  }
OPENAT(openat)
OPENAT(openat64)

/* The descriptor holding an exclusive flock, for the release event; -1: none. */
static int lockedFd = -1;

int flock(int fd, int operation) {
  const int result = NEXT(flock)(fd, operation);
  if (result == 0 && (operation & LOCK_EX)) __atomic_store_n(&lockedFd, fd, __ATOMIC_SEQ_CST);
  if (result == 0 && (operation & LOCK_UN))
    __atomic_compare_exchange_n(&lockedFd, &fd, -1, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return result;
}

int close(int fd) {
  int held = fd;
  if (fd == flipOut) flipOut = -1;
  /* Logged before the close: the time is taken before another run can take the lock. */
  if (fd >= 0 && __atomic_compare_exchange_n(&lockedFd, &held, -1, 0, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
    LogEvent("release");
  return NEXT(close)(fd);
}

/* Whether `path` names the checksum list (or, `temporary` set, also its temporary). */
static int IsList(const char* path, int temporary) {
  const char* name = strrchr(path, '/');
  return name && (temporary ? strncmp(name, "/XXH128SUMS", 11) == 0 : strcmp(name, "/XXH128SUMS") == 0);
}

ssize_t write(int fd, const void* data, size_t length) {
  const char* stop = getenv("STOP_AT");
  if (stop && strcmp(stop, "write") == 0 && length > 1) {
    char path[PATH_MAX];
    FdPath(fd, path, sizeof path);
    if (IsList(path, 1)) {
      NEXT(write)(fd, data, length / 2);
      kill(getpid(), SIGKILL);
    }
  }
  return NEXT(write)(fd, data, length);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  const char* stop = getenv("STOP_AT");
  char path[PATH_MAX * 2];
  int result, listed;
  AtPath(toDir, to, path, sizeof path);
  listed = stop && IsList(path, 0);
  if (listed && strcmp(stop, "before-rename") == 0) kill(getpid(), SIGKILL);
  result = NEXT(renameat)(fromDir, from, toDir, to);
  if (listed && strcmp(stop, "after-rename") == 0) kill(getpid(), SIGKILL);
  return result;
}

__attribute__((destructor)) static void LogExit(void) { LogEvent("exit"); }
