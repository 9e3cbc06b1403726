/* Runs a command RUNS times and prints, for each run, its wall time in
 * microseconds, its peak resident memory in KiB, its exit status and its CPU
 * time (user and system) in microseconds (from wait4), so that the
 * measurement adds no shell of its own to the command.
 *   measure RUNS COMMAND [ARG...] */
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <fcntl.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  int runs = atoi(argv[1]);
  for (int r = 0; r < runs; ++r) {
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    pid_t pid = fork();
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execvp(argv[2], argv + 2);
      _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
    clock_gettime(CLOCK_MONOTONIC, &b);
    long us = (b.tv_sec - a.tv_sec) * 1000000L + (b.tv_nsec - a.tv_nsec) / 1000;
    long cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L + usage.ru_utime.tv_usec +
               usage.ru_stime.tv_usec;
    printf("%ld %ld %d %ld\n", us, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128,
           cpu);
  }
  return 0;
}
