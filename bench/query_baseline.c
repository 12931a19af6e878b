/* The price query the plain stdio way, for comparison: line by line with
 * fgets, atof, sprintf("%f") and puts. Usage: query_baseline FILE FACTOR
 * Writes the same answer as talvenplan.cgi does for a well-formed database
 * file without NUL bytes. */
#include <stdio.h>

#include "stdio_query.h"

/* Room for a repriced price after the longest line. */
static char line[60000 + 400];

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  fputs("Content-type: text/html\n\n", stdout);
  return stdio_query(fopen(argv[1], "rt"), argv[2], line);
}
