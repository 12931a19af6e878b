#define _GNU_SOURCE
#include "child.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static int far_miss = 0;

_Noreturn void die(const char* what) {
  perror(what);
  exit(2);
}

static long long now(void) {
  struct timespec at;
  clock_gettime(CLOCK_MONOTONIC, &at);
  return (long long)at.tv_sec * 1000000000LL + at.tv_nsec;
}

static void write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      die("write");
    }
    data += written;
    size -= (size_t)written;
  }
}

struct child_run run_child(const char* path, char* const argv[],
                           char* const envp[], int input, int sink) {
  /* Pipes hold 64 KiB; reading more at a time gains nothing. */
  static char chunk[64 * 1024];
  static int null = -1;
  struct child_run run = {0, 0, 0, 0};
  struct rusage usage;
  int output[2], status = 0;
  long long start;
  pid_t child;

  if (null < 0 && (null = open("/dev/null", O_RDWR | O_CLOEXEC)) < 0) {
    die("/dev/null");
  }
  if (input >= 0 && lseek(input, 0, SEEK_SET) != 0) die("lseek");
  if (pipe2(output, O_CLOEXEC) != 0) die("pipe");
  start = now();
  child = fork();
  if (child < 0) die("fork");
  if (child == 0) {
    dup2(input >= 0 ? input : null, 0);
    dup2(output[1], 1);
    dup2(null, 2);
    execve(path, argv, envp);
    _exit(127);
  }
  close(output[1]);
  for (;;) {
    ssize_t got = read(output[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) die("read");
    if (got == 0) break;
    run.output_size += got;
    if (sink >= 0) write_all(sink, chunk, (size_t)got);
  }
  close(output[0]);
  if (wait4(child, &status, 0, &usage) != child) die("wait4");
  run.nanoseconds = now() - start;
  run.peak_kib = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

int memory_file(const char* name) {
  int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) die("memfd_create");
  return fd;
}

void empty_file(int fd) {
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) die("ftruncate");
}

size_t read_file(int fd, char* buffer, size_t room) {
  off_t size = lseek(fd, 0, SEEK_END);
  if (size < 0 || (size_t)size >= room) die("read_file: too big");
  if (pread(fd, buffer, (size_t)size, 0) != size) die("pread");
  buffer[size] = '\0';
  return (size_t)size;
}

void copy_program(const char* path, const char* directory, char* copy,
                  size_t room) {
  static char chunk[64 * 1024];
  const char* name = strrchr(path, '/');
  int from = open(path, O_RDONLY | O_CLOEXEC), to;
  if ((size_t)snprintf(copy, room, "%s/%s", directory,
                       name != NULL ? name + 1 : path) >= room) {
    die("copy_program: path too long");
  }
  to = open(copy, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
  if (from < 0 || to < 0) die(path);
  for (;;) {
    ssize_t got = read(from, chunk, sizeof chunk);
    if (got < 0) die("read");
    if (got == 0) break;
    write_all(to, chunk, (size_t)got);
  }
  /* Only clean pages can be dropped. */
  if (fdatasync(to) != 0 || posix_fadvise(to, 0, 0, POSIX_FADV_DONTNEED) != 0 ||
      close(to) != 0 || close(from) != 0) {
    die(copy);
  }
}

void write_file(const char* path, const char* data, size_t size) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) die(path);
  write_all(fd, data, size);
  if (close(fd) != 0) die("close");
}

long long make_price_list(const char* path, long long lines) {
  static const char* const kWords[] = {"Chair", "Table",  "Lamp",  "Shelf",
                                       "Desk",  "Drawer", "Stool", "Bench"};
  unsigned long long state = 0x2545f4914f6cdd1dULL;
  long long size;
  FILE* file = fopen(path, "w");
  if (file == NULL) die(path);
  fputs("k3y\n3\nretail 1.0\nwholesale\t0.8\nexport 1.19\n", file);
  fprintf(file, "Prices\n\"Winter 2026\"\n%lld\n", lines);
  for (long long i = 0; i < lines; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    unsigned cents = (unsigned)(state % 1000000);
    const char* word = kWords[(state >> 32) % 8];
    switch ((state >> 40) % 4) {
      case 0: /* a whole price */
        fprintf(file, "%s %lld %u\n", word, i, cents / 100);
        break;
      case 1: /* one decimal, a longer name */
        fprintf(file, "%s %lld oak, large %u.%u\n", word, i, cents / 100,
                cents % 10);
        break;
      default:
        fprintf(file, "%s %lld %u.%02u\n", word, i, cents / 100, cents % 100);
    }
  }
  fputs("Prices without tax\nEnd\n", file);
  size = ftell(file);
  if (fclose(file) != 0) die("fclose");
  return size;
}

/* web_list.mjs's generator, in JavaScript's numbers: doubles, whose product
 * is rounded here as JavaScript rounds it. */
static long next_random(double* seed) {
  *seed = fmod(*seed * 1103515245.0 + 12345.0, 2147483648.0);
  return (long)floor(*seed / 65536);
}

long long make_shop_list(const char* path, long lines, int factors) {
  static const char* const kWords[] = {"Oak",    "Birch", "Pine", "Steel",
                                       "Walnut", "Ash",   "Teak", "Maple"};
  static const char* const kThings[] = {"chair", "table", "lamp",  "shelf",
                                        "desk",  "stool", "bench", "cabinet",
                                        "bed",   "sofa"};
  double seed = 12345;
  long long size;
  FILE* file = fopen(path, "w");
  if (file == NULL) die(path);
  fprintf(file, "k1\n%d\n", factors);
  for (int f = 0; f < factors; ++f) {
    fprintf(file, "f%d %.2f\n", f + 1, 0.5 + f / 100.0);
  }
  fprintf(file, "Winter prices 2026\nAll prices in euros\n%ld\n", lines);
  for (long i = 0; i < lines; ++i) {
    long width = 40 + next_random(&seed) % 16 * 10;
    long depth = 40 + next_random(&seed) % 16 * 10;
    const char* word = kWords[next_random(&seed) % 8];
    const char* thing = kThings[next_random(&seed) % 10];
    long cents = next_random(&seed) % 100000;
    fprintf(file, "%s %s %ldx%ld cm no. %05ld %.2f\n", word, thing, width,
            depth, i + 1, cents / 100.0 + 1);
  }
  fputs("Prices valid until further notice.\n", file);
  size = ftell(file);
  if (fclose(file) != 0) die("fclose");
  return size;
}

int holds(int file, const char* prefix, int content) {
  static char a[1 << 16], b[1 << 16];
  size_t prefix_size = strlen(prefix);
  off_t file_size = lseek(file, 0, SEEK_END);
  off_t content_size = lseek(content, 0, SEEK_END);
  if (file_size != (off_t)prefix_size + content_size) return 0;
  if (pread(file, a, prefix_size, 0) != (ssize_t)prefix_size ||
      memcmp(a, prefix, prefix_size) != 0) {
    return 0;
  }
  for (off_t at = 0; at < content_size; at += (off_t)sizeof a) {
    ssize_t n = pread(content, a, sizeof a, at);
    if (n <= 0 || pread(file, b, (size_t)n, at + (off_t)prefix_size) != n ||
        memcmp(a, b, (size_t)n) != 0) {
      return 0;
    }
  }
  return 1;
}

void keep_best(struct best* best, const struct child_run* run) {
  if (best->nanoseconds < 0 || run->nanoseconds < best->nanoseconds) {
    best->nanoseconds = run->nanoseconds;
  }
  if (run->peak_kib > best->peak_kib) best->peak_kib = run->peak_kib;
}

void print_row(const char* figure, const char* program, const char* baseline,
               double ratio, const char* goal, long program_kib,
               long baseline_kib, const char* verdict) {
  char ratio_text[32] = "-", program_peak[32] = "-", baseline_peak[32] = "-";
  if (ratio >= 0) snprintf(ratio_text, sizeof ratio_text, "%.2f", ratio);
  if (program_kib >= 0) {
    snprintf(program_peak, sizeof program_peak, "%ld", program_kib);
  }
  if (baseline_kib >= 0) {
    snprintf(baseline_peak, sizeof baseline_peak, "%ld", baseline_kib);
  }
  printf("row\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", figure, program, baseline,
         ratio_text, goal, program_peak, baseline_peak, verdict);
  fflush(stdout);
}

const char* verdict(double ratio, double goal) {
  if (ratio <= goal) return "met";
  if (ratio <= goal * 1.25) return "MISSED";
  far_miss = 1;
  return "MISSED (far)";
}

int bench_status(void) { return far_miss; }

static int compare(const void* a, const void* b) {
  long long x = *(const long long*)a, y = *(const long long*)b;
  return (x > y) - (x < y);
}

long long median(long long* values, size_t count) {
  qsort(values, count, sizeof *values, compare);
  return count % 2 ? values[count / 2]
                   : (values[count / 2 - 1] + values[count / 2]) / 2;
}
