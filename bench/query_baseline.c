/* The price query the plain stdio way, for comparison: line by line with
 * fgets, atof, sprintf("%f") and puts. Usage: query_baseline FILE FACTOR
 * Writes the same answer as talvenplan.cgi does for a well-formed database
 * file without NUL bytes. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Room for a repriced price after the longest line. */
static char line[60000 + 400];

static int is_separator(char c) { return (signed char)c <= ' '; }

int main(int argc, char** argv) {
  FILE* file;
  int remaining;
  int found = 0;
  float factor = 0;
  int count;
  double price_count;

  if (argc != 3) return 2;
  fputs("Content-type: text/html\n\n", stdout);
  file = fopen(argv[1], "rt");
  if (file == NULL || fgets(line, 60000, file) == NULL ||
      fgets(line, 60000, file) == NULL) {
    fputs("s!", stdout);
    return 0;
  }
  remaining = atoi(line);
  while (remaining > 0 && fgets(line, 60000, file) != NULL) {
    char* end = line;
    char* text;
    while (!is_separator(*end)) ++end;
    text = *end == '\0' ? end : end + 1;
    *end = '\0';
    if (strcmp(line, argv[2]) == 0) {
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
