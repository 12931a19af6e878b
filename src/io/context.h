// What the program gives every command beside the request's own fields.
#ifndef TALVENPLAN_IO_CONTEXT_H_
#define TALVENPLAN_IO_CONTEXT_H_

#include <span>
#include <string_view>

#include "io/beneath.h"

namespace talvenplan {

struct Context {
  const Root& root;
  // Storage for line reads, kLineBufferSize bytes, provided once and used
  // by one reader at a time.
  std::span<char> lines;
  // How many versions of each database put and remove keep (io/versions.h);
  // 0: none, and no versions directory is ever made.
  int versions = 0;
  // The login the web server checked (REMOTE_USER), empty without one,
  // clipped to the most that is recorded: kept with what the request saves
  // or stages.
  std::string_view login;
};

}  // namespace talvenplan

#endif  // TALVENPLAN_IO_CONTEXT_H_
