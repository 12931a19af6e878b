#include "client/login.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "io/fd.h"

namespace talvenplan::client {
namespace {

volatile sig_atomic_t caught = 0;

void Catch(int signal) { caught = signal; }

}  // namespace

std::optional<std::string> AskPassword(const std::string& prompt) {
  Fd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) return std::nullopt;
  termios before;
  if (::tcgetattr(tty.get(), &before) != 0) return std::nullopt;
  termios quiet = before;
  // No echo, but the newline still shows, so the next line starts clean.
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;

  // Ctrl-C or Ctrl-\ must not leave the terminal silent: they interrupt the
  // read, the terminal is restored, and then the signal does what it would.
  struct sigaction catcher = {}, interrupt = {}, quit = {};
  catcher.sa_handler = Catch;
  caught = 0;
  ::sigaction(SIGINT, &catcher, &interrupt);
  ::sigaction(SIGQUIT, &catcher, &quit);
  std::string password;
  bool whole = false;
  int error = 0;
  // Echo goes off before the prompt shows, so that nothing typed after it
  // is echoed or flushed away.
  const bool silent = ::tcsetattr(tty.get(), TCSAFLUSH, &quiet) == 0;
  if (!silent || !WriteAll(tty.get(), prompt)) {
    error = errno;
  } else {
    for (char c; !whole && caught == 0;) {
      ssize_t got = ::read(tty.get(), &c, 1);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        error = got < 0 ? errno : 0;
        break;
      }
      if (c == '\n') {
        whole = true;
      } else {
        password += c;
      }
    }
  }
  if (silent) ::tcsetattr(tty.get(), TCSAFLUSH, &before);
  ::sigaction(SIGINT, &interrupt, nullptr);
  ::sigaction(SIGQUIT, &quit, nullptr);
  if (caught != 0) ::raise(caught);
  if (!whole) {
    errno = caught != 0 ? EINTR : error;
    return std::nullopt;
  }
  return password;
}

}  // namespace talvenplan::client
