// Every answer's opening: the status words "s" and "s!", and every message
// the program fails with, in one table.
//
// Command failures follow the status word "fs"; the process then ends with
// exit status 1, except after store's three messages, which let the client
// read the message and decide. Offer links and answers to offers answer a
// browser: their messages carry no status word, and the process ends
// normally.
#ifndef TALVENPLAN_PROTOCOL_MESSAGES_H_
#define TALVENPLAN_PROTOCOL_MESSAGES_H_

#include <optional>

#include "io/output.h"

namespace talvenplan {

enum class Message {
  kNoContentLength,
  kInvalidContentLength,
  kNoMemory,
  kShortBody,
  kCantChangeDirectory,
  kCantOpenDirectory,
  kCantOpenDatabase,
  kCantReadDatabase,
  kCantWriteDatabase,
  kCantWriteOnDatabase,
  kCantRemoveDatabase,
  kCantCreateTemporary,
  kCantOpenTemporary,
  kCantWriteTemporary,
  kLinkCantChangeDirectory,
  kLinkCantOpen,
  kLinkWithdrawn,
  kAnswerNotPosted,
  kAnswerTooLong,
  kAnswerIncomplete,
  kAnswerNoSlot,
  kAnswerAlready,
  kAnswerNotOpened,
  kAnswerExpired,
  kAnswerCantWrite,
};

// Writes `message` as its kind is written and returns the exit status that
// goes with it.
int Fail(Output& out, Message message);

// Writes "s" (done; a payload may follow), or "s!" (understood, and
// refused), and returns the exit status 0.
int Done(Output& out);
int Refuse(Output& out);

// What a step of a command did: it answered, and the command ends with this
// exit status; or it answered nothing (std::nullopt), and the command goes
// on.
using Answered = std::optional<int>;

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_MESSAGES_H_
