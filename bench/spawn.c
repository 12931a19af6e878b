/* Runs one program and reports how long it took and its peak resident
 * memory: spawn PROGRAM [ARG...] with the environment given to spawn.
 * Standard input, output and error pass through; the figures go to file
 * descriptor 3 as "<nanoseconds> <peak KiB> <exit status>\n".
 *
 * The benchmark starts the measured programs through this small program
 * because a child's peak resident memory as the kernel reports it counts the
 * memory of the process it was forked from: forked from here, that is a few
 * hundred KiB rather than the whole benchmark's. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  struct timespec start, end;
  struct rusage usage;
  int status = 0;
  pid_t child;
  long long elapsed;

  if (argc < 2 || fcntl(3, F_SETFD, FD_CLOEXEC) != 0) return 2;
  clock_gettime(CLOCK_MONOTONIC, &start);
  child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    execve(argv[1], argv + 1, environ);
    _exit(127);
  }
  if (wait4(child, &status, 0, &usage) != child) return 2;
  clock_gettime(CLOCK_MONOTONIC, &end);
  elapsed = (long long)(end.tv_sec - start.tv_sec) * 1000000000LL +
            (end.tv_nsec - start.tv_nsec);
  dprintf(3, "%lld %ld %d\n", elapsed, usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return 0;
}
