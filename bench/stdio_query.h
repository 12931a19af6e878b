/* The price query the plain stdio way, shared by the baselines: line by line
 * with fgets, atof, sprintf("%f") and puts, into `line` (60000 bytes and room
 * for a repriced price). Answers after the header: "s!", or "s" and the
 * repriced price section. `file` may be NULL (no such database). */
#ifndef TALVENPLAN_BENCH_STDIO_QUERY_H_
#define TALVENPLAN_BENCH_STDIO_QUERY_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int stdio_query_is_separator(char c) { return (signed char)c <= ' '; }

static int stdio_query(FILE* file, const char* factor_name, char* line) {
  int remaining, count, found = 0;
  float factor = 0;
  double price_count;
  if (file == NULL || fgets(line, 60000, file) == NULL ||
      fgets(line, 60000, file) == NULL) {
    fputs("s!", stdout);
    return 0;
  }
  remaining = atoi(line);
  while (remaining > 0 && fgets(line, 60000, file) != NULL) {
    char* end = line;
    char* text;
    while (!stdio_query_is_separator(*end)) ++end;
    text = *end == '\0' ? end : end + 1;
    *end = '\0';
    if (strcmp(line, factor_name) == 0) {
      factor = (float)atof(text);
      found = 1;
      break;
    }
    --remaining;
  }
  if (!found) {
    fputs("s!", stdout);
    return 0;
  }
  fputs("s", stdout);
  while (--remaining > 0 && fgets(line, 60000, file) != NULL) {
  }
  for (count = 0; count < 3 && fgets(line, 60000, file) != NULL; ++count) {
    fputs(line, stdout);
  }
  if (count < 3) return 0;
  price_count = atof(line);
  count = price_count > -2147483649.0 && price_count < 2147483648.0
              ? (int)price_count
              : 0;
  for (; count > 0 && fgets(line, 60000, file) != NULL; --count) {
    char* space = strrchr(line, ' ');
    char* price = space != NULL ? space + 1 : line;
    sprintf(price, "%f", atof(price) * (double)factor);
    puts(line);
  }
  while (fgets(line, 60000, file) != NULL) fputs(line, stdout);
  return 0;
}

#endif /* TALVENPLAN_BENCH_STDIO_QUERY_H_ */
