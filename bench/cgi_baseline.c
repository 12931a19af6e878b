/* The small requests the plain C way, to measure talvenplan.cgi against: a
 * CGI program written as a C programmer would, with stdio, getenv, malloc,
 * opendir and fgets. It answers a listing (l), a get (g), a price query (q),
 * an offer link, a create (c), a put (p) and a store (s) with the same bytes
 * as talvenplan.cgi for well-formed requests and database files (a store's
 * offer name is random); it does not try to match the refusals and edge
 * cases (NUL bytes, long lines, odd names) that talvenplan.cgi handles.
 * Linked statically, like talvenplan.cgi.
 *
 * It writes the way talvenplan.cgi did before it synced directories: a new
 * file beside the target, written, fsynced, closed (checked), then given its
 * name (create: renameat2 RENAME_NOREPLACE, or a link where the file system
 * has no such rename; put: rename over the old file,
 * store: made under its name). The bytes are on disk before the answer, the
 * name is not. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stdio_query.h"

static char line[60000 + 400];

static int is_line_end(char c) { return (signed char)c < ' '; }
static int is_separator(char c) { return (signed char)c <= ' '; }

static int fail(const char* message) {
  printf("fs%s", message);
  return 1;
}

/* TALVEN_ROOT, when set, must hold the working directory. */
static int within_root(void) {
  const char* root = getenv("TALVEN_ROOT");
  char here[PATH_MAX], resolved[PATH_MAX];
  size_t size;
  if (root == NULL) return 1;
  if (getcwd(here, sizeof here) == NULL || realpath(root, resolved) == NULL) {
    return 0;
  }
  if (strcmp(resolved, "/") == 0) return here[0] == '/';
  size = strlen(resolved);
  return strncmp(here, resolved, size) == 0 &&
         (here[size] == '\0' || here[size] == '/');
}

static int list(void) {
  DIR* directory = opendir(".");
  struct dirent* entry;
  int any = 0;
  if (directory == NULL) return fail("can't open directory on server");
  fputs("s", stdout);
  while ((entry = readdir(directory)) != NULL) {
    if (entry->d_name[0] == '.') continue;
    printf("%s\n", entry->d_name);
    any = 1;
  }
  if (!any) putchar('\n');
  closedir(directory);
  return 0;
}

static int get(const char* key, const char* name) {
  FILE* file = fopen(name, "r");
  size_t size;
  if (file == NULL) {
    fputs("s!", stdout);
    return 0;
  }
  /* Only the first 8 bytes of the key line are the stored key. */
  if (fgets(line, 9, file) == NULL)
    return fail("can't read database on server");
  size = strlen(line);
  while (size > 0 && is_separator(line[size - 1])) --size;
  line[size] = '\0';
  if (strcmp(line, key) != 0) {
    fputs("s!", stdout);
    return 0;
  }
  printf("s%s\n", line);
  while ((size = fread(line, 1, sizeof line, file)) > 0) {
    fwrite(line, 1, size, stdout);
  }
  fclose(file);
  return 0;
}

/* As bench/query_baseline.c does it, on the database the request names. */
static int query(const char* factor_name, const char* name) {
  FILE* file = fopen(name, "r");
  int status = stdio_query(file, factor_name, line);
  if (file != NULL) fclose(file);
  return status;
}

/* Two letters a byte: 'a' plus the low four bits, 'a' plus the high four. */
static const char* decode(const char* text, char* out, size_t room) {
  size_t size = 0;
  while (*text != 'z') {
    if (text[0] == '\0' || text[1] == '\0' || size + 1 >= room) return NULL;
    out[size++] = (char)(((unsigned char)text[0] - 'a') +
                         16 * ((unsigned char)text[1] - 'a'));
    text += 2;
  }
  out[size] = '\0';
  return text + 1;
}

static int offer(const char* encoded) {
  char name[256], directory[PATH_MAX];
  const char* method = getenv("REQUEST_METHOD");
  struct stat info;
  size_t size;
  FILE* file;
  int fd;
  encoded = decode(encoded, name, sizeof name);
  if (encoded == NULL) {
    fputs("error on server: can't open temp file", stdout);
    return 0;
  }
  if (decode(encoded, directory, sizeof directory) == NULL ||
      chdir(directory) != 0 || !within_root()) {
    fputs("error on server:can't change directory on server", stdout);
    return 0;
  }
  fd = strlen(name) == 7 && name[0] == '.'
           ? open(name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK)
           : -1;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ((method == NULL || strcmp(method, "HEAD") != 0) && unlink(name) != 0)) {
    fputs("error on server: can't open temp file", stdout);
    return 0;
  }
  file = fdopen(fd, "r");
  fputs(
      "<html><head><title>Offer</title></head>"
      "<body>\n<h1 align=\"center\">Offer</h1>\n",
      stdout);
  while ((size = fread(line, 1, sizeof line, file)) > 0) {
    fwrite(line, 1, size, stdout);
  }
  fputs("</body></html>\n", stdout);
  fclose(file);
  return 0;
}

/* A new database after its key line, as talvenplan.cgi makes it. */
static const char kNewDatabaseTail[] = "\n0\n0\n\"\"\n0\n0\n0\n";

/* Opens a new file for writing under `name`, whose last six bytes (XXXXXX)
 * become random letters and digits, in one step. */
static FILE* create_unique(char* name) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  char* random = name + strlen(name) - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned long long bits = 0;
    FILE* file;
    if (getrandom(&bits, sizeof bits, 0) != sizeof bits) return NULL;
    for (int i = 0; i < 6; ++i) {
      random[i] = kAlphabet[bits % 62];
      bits /= 62;
    }
    file = fopen(name, "wxe"); /* O_EXCL, O_CLOEXEC */
    if (file != NULL || errno != EEXIST) return file;
  }
  return NULL;
}

/* Writes `size` bytes of `text` and then `tail` to `file`, fsyncs it and
 * closes it. On failure the new file `name` is removed. */
static int write_whole(FILE* file, const char* name, const char* text,
                       size_t size, const char* tail) {
  int written = fwrite(text, 1, size, file) == size &&
                fputs(tail, file) >= 0 && fflush(file) == 0 &&
                fsync(fileno(file)) == 0;
  if (fclose(file) != 0 || !written) {
    unlink(name);
    return 0;
  }
  return 1;
}

static int create(const char* key, const char* name) {
  struct stat info;
  FILE* file;
  if (lstat(name, &info) == 0) {
    fputs("s!", stdout);
    return 0;
  }
  char temp[] = ".put-XXXXXX";
  file = create_unique(temp);
  if (file == NULL) return fail("can't open database on server");
  if (!write_whole(file, temp, key, strlen(key), kNewDatabaseTail)) {
    return fail("can't write on database");
  }
  /* Where the file system has no no-replace rename (GlusterFS, NFS), a
     link, as talvenplan.cgi makes there. */
  int named = renameat2(AT_FDCWD, temp, AT_FDCWD, name, RENAME_NOREPLACE);
  if (named != 0 && errno == EINVAL) {
    named = link(temp, name);
    if (named == 0) unlink(temp);
  }
  if (named != 0) {
    int taken = errno == EEXIST;
    unlink(temp);
    if (taken) {
      fputs("s!", stdout);
      return 0;
    }
    return fail("can't write on database");
  }
  fputs("s", stdout);
  return 0;
}

static int put(const char* key, const char* name, const char* text,
               size_t size) {
  FILE* file;
  struct stat info;
  size_t stored;
  if (strncmp(name, "DEMO_", 5) == 0) {
    fputs("s", stdout);
    return 0;
  }
  file = fopen(name, "r");
  if (file == NULL) return fail("can't open database on server");
  /* Only the first 8 bytes of the key line are the stored key. */
  if (fgets(line, 9, file) == NULL || fstat(fileno(file), &info) != 0) {
    return fail("can't read database on server");
  }
  fclose(file);
  stored = strlen(line);
  while (stored > 0 && is_separator(line[stored - 1])) --stored;
  line[stored] = '\0';
  if (strcmp(line, key) != 0) {
    fputs("s!", stdout);
    return 0;
  }
  char temp[] = ".put-XXXXXX";
  file = create_unique(temp);
  if (file != NULL && fchmod(fileno(file), info.st_mode & 0777) != 0) {
    fclose(file);
    unlink(temp);
    file = NULL;
  }
  if (file == NULL) return fail("can't write database on server");
  if (!write_whole(file, temp, text, size, "")) {
    return fail("can't write on database");
  }
  if (rename(temp, name) != 0) {
    unlink(temp);
    return fail("can't write on database");
  }
  fputs("s", stdout);
  return 0;
}

static int store(const char* text, size_t size) {
  char name[] = ".XXXXXX";
  FILE* file = create_unique(name);
  if (file == NULL) return fail("can't open temporary file");
  if (size == 0) {
    fclose(file);
    unlink(name);
    return fail("can't write temporary file");
  }
  if (!write_whole(file, name, text, size, "")) {
    return fail("can't write temporary file");
  }
  printf("s%s", name);
  return 0;
}

int main(void) {
  const char* query_string = getenv("QUERY_STRING");
  const char* length_text = getenv("CONTENT_LENGTH");
  char *body, *directory, *key = "", *name = "", *text = "", *p, *end;
  int length;
  size_t count;

  fputs("Content-type: text/html\n\n", stdout);
  if (query_string != NULL &&
      strncmp(query_string, "TALVENPLAN_FILE=", 16) == 0) {
    return offer(query_string + 16);
  }
  if (length_text == NULL) length_text = getenv("HTTP_CONTENT_LENGTH");
  if (length_text == NULL) return fail("CONTENT_LENGTH not present");
  length = atoi(length_text);
  if (length <= 0 || length == INT_MAX) return fail("invalid CONTENTT_LENGTH");
  body = malloc((size_t)length + 1);
  if (body == NULL) return fail("not enough memory");
  count = fread(body, 1, (size_t)length, stdin);
  if (count != (size_t)length) return fail("error reading input data");
  body[count] = '\0';
  end = body + count;

  p = body + 2;
  directory = p;
  while (p < end && !is_line_end(*p)) ++p;
  if (p < end) *p++ = '\0';
  if (body[0] == 's') {
    while (p < end && is_separator(*p)) ++p;
    text = p;
  } else if (body[0] != 'l') {
    while (p < end && is_line_end(*p)) ++p;
    key = p;
    while (p < end && *p != ' ') ++p;
    if (p < end) *p++ = '\0';
    name = p;
    while (p < end && !is_separator(*p)) ++p;
    if (p < end) *p++ = '\0';
    text = p;
  }
  if (chdir(directory) != 0 || !within_root()) {
    return fail("can't change directory on server");
  }
  switch (body[0]) {
    case 'l':
      return list();
    case 'g':
      return get(key, name);
    case 'q':
      return query(key, name);
    case 'c':
      return create(key, name);
    case 'p':
      return put(key, name, text, (size_t)(end - text));
    case 's':
      return store(text, (size_t)(end - text));
    default:
      return 0;
  }
}
