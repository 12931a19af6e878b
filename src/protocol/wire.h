// The fixed words of the wire that the server, the client and the tests
// share: the answer header, the offer link's key, the key size, the status
// words of command answers, and the form of offer names.
#ifndef TALVENPLAN_PROTOCOL_WIRE_H_
#define TALVENPLAN_PROTOCOL_WIRE_H_

#include <cstddef>
#include <string_view>

#include "io/file.h"
#include "protocol/offer_line.h"

namespace talvenplan {

// Every answer starts with this header. A web server turns it into an HTTP
// header; run directly, the program writes it first on standard output.
inline constexpr std::string_view kHeader = "Content-type: text/html\n\n";

// A query string that starts with this is an offer link.
inline constexpr std::string_view kOfferKey = "TALVENPLAN_FILE=";
// One that starts with this posts the customer's answer to an offer; the
// rest is the offer link's.
inline constexpr std::string_view kAnswerKey = "TALVENPLAN_ANSWER=";
// An answer's body is at most this long; a longer one is not read.
inline constexpr std::size_t kAnswerMax = 4096;

// The key check compares at most this many bytes of a database's key line.
inline constexpr std::size_t kKeySize = 8;

// Status words: what a command answer starts with.
inline constexpr std::string_view kDone = "s";      // the payload follows
inline constexpr std::string_view kRefused = "s!";  // understood, refused
inline constexpr std::string_view kFailed = "fs";   // a message follows

// Offer files are named "." and kRandomChars letters or digits; the listing
// passes over them, and an offer link reaches nothing else. A put stages
// its new text under kPutPrefix and as many random characters.
inline constexpr std::size_t kOfferNameSize = 1 + kRandomChars;
inline constexpr char kOfferTemplate[] = ".XXXXXX";
inline constexpr char kPutTemplate[] = ".put-XXXXXX";
static_assert(sizeof kOfferTemplate - 1 == kOfferNameSize);

// Store marks every offer file with this extended attribute and value. A
// site without a root has no data tree that links stay in, so there a link
// shows only a file that carries the mark.
inline constexpr char kOfferMarkName[] = "user.talvenplan";
inline constexpr std::string_view kOfferMarkValue = "offer";

// Put and create record who saved a database: the login the web server
// checked (REMOTE_USER), percent-encoded, in this extended attribute of the
// file. A version is the replaced file itself, so it keeps the login of
// whoever saved the content it holds. A login is recorded up to kLoginMost
// bytes; a longer one keeps its beginning.
inline constexpr char kSavedByName[] = "user.talvenplan.by";
inline constexpr std::size_t kLoginMost = 256;

// A list request whose line after the directory is this word lists each
// entry as "NAME<TAB>LOGIN", the login as recorded (empty for none).
inline constexpr std::string_view kListByWord = "by";

inline bool IsNameAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9');
}

inline bool IsOfferName(std::string_view name) {
  if (name.size() != kOfferNameSize || name[0] != '.') return false;
  for (char c : name.substr(1)) {
    if (!IsNameAlphabet(c)) return false;
  }
  return true;
}

// An offer its stager withdrew: an offer's name and kWithdrawnSuffix.
inline bool IsWithdrawnName(std::string_view name) {
  return name.ends_with(kWithdrawnSuffix) &&
         IsOfferName(name.substr(0, name.size() - kWithdrawnSuffix.size()));
}

// The files beside an offer NAME that take its customer's answer: the
// slot store writes (NAME.slot), the mark the link leaves when it shows the
// offer (NAME.opened), the answer (NAME.answer) and the mail job's record
// of what it told the shop (NAME.told). Only the program writes them.
inline constexpr std::string_view kSlotSuffix = ".slot";
inline constexpr std::string_view kOpenedSuffix = ".opened";
inline constexpr std::string_view kAnswerSuffix = ".answer";
inline constexpr std::string_view kToldSuffix = ".told";

inline bool IsAnswerFileName(std::string_view name) {
  for (std::string_view suffix :
       {kSlotSuffix, kOpenedSuffix, kAnswerSuffix, kToldSuffix}) {
    if (name.ends_with(suffix) &&
        IsOfferName(name.substr(0, name.size() - suffix.size()))) {
      return true;
    }
  }
  return false;
}

// A put's temporary file: kPutTemplate's form, its X's letters or digits.
inline bool IsPutTempName(std::string_view name) {
  constexpr std::string_view kPrefix(kPutTemplate,
                                     sizeof kPutTemplate - 1 - kRandomChars);
  if (name.size() != sizeof kPutTemplate - 1 || !name.starts_with(kPrefix)) {
    return false;
  }
  for (char c : name.substr(kPrefix.size())) {
    if (!IsNameAlphabet(c)) return false;
  }
  return true;
}

}  // namespace talvenplan

#endif  // TALVENPLAN_PROTOCOL_WIRE_H_
