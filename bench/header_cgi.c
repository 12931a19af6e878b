/* The least a CGI program can do: write the header and end. The floor that
 * talvenplan.cgi is measured against through the web server. Linked
 * statically. */
#include <unistd.h>

int main(void) {
  static const char header[] = "Content-type: text/html\n\n";
  return write(1, header, sizeof header - 1) == sizeof header - 1 ? 0 : 1;
}
