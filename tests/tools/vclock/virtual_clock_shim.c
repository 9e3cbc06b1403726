/* Virtual-clock shim: preloaded, it gives the process a virtual UTC clock so that a set never touches the machine's
 * (run it without CAP_SYS_TIME too). HOROLAN_VCLOCK_FILE: one line, virtual minus real in signed nanoseconds; opened
 * at load (so a process that confines its files later keeps it), read on every clock read, rewritten in place by a
 * set. Without it every set fails with EPERM, as with HOROLAN_VCLOCK_REFUSE ("set": only sets to a time). A relative
 * step (ADJ_SETOFFSET) shifts the offset; anything else is refused. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/timex.h>
#include <time.h>
#include <unistd.h>

#define EXPORT __attribute__((visibility("default")))

static const int64_t kNsPerSecond = 1000000000;

static int64_t RealNs(clockid_t id) {
  struct timespec now;
  if (syscall(SYS_clock_gettime, id, &now) != 0) return 0;
  return (int64_t)now.tv_sec * kNsPerSecond + now.tv_nsec;
}

static const char* OffsetFile(void) {
  const char* path = getenv("HOROLAN_VCLOCK_FILE");
  return path && *path ? path : NULL;
}

static int Refusing(int step) {
  const char* refuse = getenv("HOROLAN_VCLOCK_REFUSE");
  return refuse && *refuse && strcmp(refuse, "0") != 0 && !(step && strcmp(refuse, "set") == 0);
}

/* The offset file, opened when the shim is loaded; -1 without one. */
static int offsetFd = -1;
static int offsetOpenError = EPERM;
/* The last offset read: a process that closed the file (a run's network part closes all it
   inherited) keeps it. */
static int64_t lastOffset;
/* What offsetFd was opened on: its number may be reused once closed. */
static struct stat offsetFile;
static int64_t ReadOffset(void);

__attribute__((constructor)) static void OpenOffsetFile(void) {
  const char* path = OffsetFile();
  if (!path) return;
  offsetFd = Refusing(1) ? open(path, O_RDONLY | O_CLOEXEC) : open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (offsetFd < 0) offsetOpenError = errno;
  if (offsetFd >= 0) fstat(offsetFd, &offsetFile);
  ReadOffset();
}

static int64_t ReadOffset(void) {
  if (offsetFd < 0) return 0;
  struct stat now;
  if (fstat(offsetFd, &now) != 0 || now.st_ino != offsetFile.st_ino ||
      now.st_dev != offsetFile.st_dev)
    return lastOffset;
  char text[64];
  ssize_t n = pread(offsetFd, text, sizeof text - 1, 0);
  if (n <= 0) return lastOffset;
  text[n] = 0;
  return lastOffset = strtoll(text, NULL, 10);
}

/* The new line goes over the old one, then the length is cut: a reader sees
 * the old number or the new one, each ending in a newline. */
static int WriteOffset(int64_t offset) {
  if (offsetFd < 0) return errno = offsetOpenError, -1;
  char text[64];
  int length = snprintf(text, sizeof text, "%lld\n", (long long)offset);
  ssize_t written = pwrite(offsetFd, text, (size_t)length, 0);
  if (written != length) return errno = written < 0 ? errno : EIO, -1;
  return ftruncate(offsetFd, length);
}

static int64_t VirtualNs(clockid_t id) { return RealNs(id) + ReadOffset(); }

static void ToTimespec(int64_t ns, struct timespec* out) {
  int64_t rest = (ns % kNsPerSecond + kNsPerSecond) % kNsPerSecond;  /* never negative */
  out->tv_sec = (time_t)((ns - rest) / kNsPerSecond);
  out->tv_nsec = (long)rest;
}

/* Moves the virtual clock to ns; never the machine's clock. */
static int SetVirtual(int64_t ns) {
  if (!OffsetFile() || Refusing(0)) return errno = EPERM, -1;
  return WriteOffset(ns - RealNs(CLOCK_REALTIME));
}

EXPORT int clock_gettime(clockid_t id, struct timespec* out) {
  if (id != CLOCK_REALTIME && id != CLOCK_REALTIME_COARSE) return (int)syscall(SYS_clock_gettime, id, out);
  ToTimespec(VirtualNs(id), out);
  return 0;
}

EXPORT int gettimeofday(struct timeval* restrict out, void* restrict zone) {
  if (zone) memset(zone, 0, sizeof(struct timezone));
  struct timespec now;
  ToTimespec(VirtualNs(CLOCK_REALTIME), &now);
  out->tv_sec = now.tv_sec;
  out->tv_usec = now.tv_nsec / 1000;
  return 0;
}

EXPORT time_t time(time_t* out) {
  struct timespec now;
  ToTimespec(VirtualNs(CLOCK_REALTIME), &now);
  if (out) *out = now.tv_sec;
  return now.tv_sec;
}

EXPORT int clock_settime(clockid_t id, const struct timespec* value) {
  if (id != CLOCK_REALTIME) return errno = EPERM, -1;
  if (value->tv_nsec < 0 || value->tv_nsec >= kNsPerSecond || value->tv_sec < 0) return errno = EINVAL, -1;
  return SetVirtual((int64_t)value->tv_sec * kNsPerSecond + value->tv_nsec);
}

/* Caught too, although horolan never calls it: no set may reach the machine's clock. A set of only the zone fails. */
EXPORT int settimeofday(const struct timeval* value, const struct timezone* zone) {
  (void)zone;
  if (!value) return errno = EPERM, -1;
  if (value->tv_usec < 0 || value->tv_usec >= 1000000 || value->tv_sec < 0) return errno = EINVAL, -1;
  return SetVirtual((int64_t)value->tv_sec * kNsPerSecond + (int64_t)value->tv_usec * 1000);
}

/* Reading the kernel's clock state is harmless; a relative step (ADJ_SETOFFSET,
 * tv_usec in nanoseconds with ADJ_NANO) moves the virtual clock; nothing else. */
static int Adjust(clockid_t id, struct timex* buffer) {
  if (!buffer) return errno = EFAULT, -1;
  if (buffer->modes == 0) return (int)syscall(SYS_clock_adjtime, id, buffer);
  if (id != CLOCK_REALTIME || (buffer->modes & ~(unsigned)ADJ_NANO) != ADJ_SETOFFSET || !OffsetFile() || Refusing(1))
    return errno = EPERM, -1;
  int64_t unit = buffer->modes & ADJ_NANO ? 1 : 1000;
  if (buffer->time.tv_usec < 0 || buffer->time.tv_usec >= kNsPerSecond / unit) return errno = EINVAL, -1;
  if (WriteOffset(ReadOffset() + (int64_t)buffer->time.tv_sec * kNsPerSecond + buffer->time.tv_usec * unit) != 0)
    return -1;
  buffer->modes = 0;
  return (int)syscall(SYS_clock_adjtime, id, buffer);
}

/* The kernel's arrival stamps of datagrams are on the real clock: moved onto the virtual one. */
EXPORT ssize_t recvmsg(int fd, struct msghdr* message, int flags) {
  ssize_t received = syscall(SYS_recvmsg, fd, message, flags);
  if (received < 0 || !message->msg_control) return received;
  for (struct cmsghdr* c = CMSG_FIRSTHDR(message); c; c = CMSG_NXTHDR(message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
    struct timespec stamp;
    memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    ToTimespec((int64_t)stamp.tv_sec * kNsPerSecond + stamp.tv_nsec + ReadOffset(), &stamp);
    memcpy(CMSG_DATA(c), &stamp, sizeof stamp);
  }
  return received;
}

EXPORT int adjtimex(struct timex* buffer) { return Adjust(CLOCK_REALTIME, buffer); }
EXPORT int ntp_adjtime(struct timex* buffer) { return Adjust(CLOCK_REALTIME, buffer); }
EXPORT int clock_adjtime(clockid_t id, struct timex* buffer) { return Adjust(id, buffer); }
