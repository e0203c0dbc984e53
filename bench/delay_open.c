/* A preloaded library that makes every open of an input take 1 ms longer, as on a network
 * file system where each open waits for a round trip to the server: the benchmark's
 * simulated latency, the same for the I/O floor and for drelk.
 *
 *   LD_PRELOAD=build/bench/bench/libdrelk_delay_open.so DELAY_OPEN_UNDER=corpus/ drelk ...
 *
 * Only files (no directories) whose paths begin with DELAY_OPEN_UNDER are delayed (every path when it is not set),
 * so that the program's own libraries and output files open as usual; DELAY_OPEN_MICROSECONDS
 * sets the delay (1000). The wait is a sleep: it costs no processor time, as a round trip
 * would not. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static void delay_for(const char* path, int flags) {
  if (flags & O_DIRECTORY) return;
  const char* under = getenv("DELAY_OPEN_UNDER");
  if (under != NULL && strncmp(path, under, strlen(under)) != 0) return;
  const char* micro = getenv("DELAY_OPEN_MICROSECONDS");
  long us = micro != NULL ? atol(micro) : 1000;
  struct timespec wait = {us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&wait, &wait) != 0) {
  }
}

typedef int (*open_function)(const char*, int, ...);
typedef int (*openat_function)(int, const char*, int, ...);

static mode_t mode_of(int flags, va_list arguments) {
  return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(arguments, int) : 0;
}

int open(const char* path, int flags, ...) {
  static open_function real;
  if (real == NULL) real = (open_function)dlsym(RTLD_NEXT, "open");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_of(flags, arguments);
  va_end(arguments);
  delay_for(path, flags);
  return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  static open_function real;
  if (real == NULL) real = (open_function)dlsym(RTLD_NEXT, "open64");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_of(flags, arguments);
  va_end(arguments);
  delay_for(path, flags);
  return real(path, flags, mode);
}

int openat(int directory, const char* path, int flags, ...) {
  static openat_function real;
  if (real == NULL) real = (openat_function)dlsym(RTLD_NEXT, "openat");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = mode_of(flags, arguments);
  va_end(arguments);
  delay_for(path, flags);
  return real(directory, path, flags, mode);
}
