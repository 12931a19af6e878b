// The customer's answer to an offer: the slot store keeps for it, the mark
// the link leaves, the answer itself, and what the shop reads back.
//
// Beside an offer NAME that its offer line staged with answer=1:
//   NAME.slot    "talvenplan-slot 1", then "key KEY", "until YYYY-MM-DD"
//                (where the line gave one), "sha256 HEX" (of the offer's
//                bytes after its offer line: what the link shows),
//                "staged STAMP" and "by LOGIN" (where the web server gave
//                one), a line each.
//   NAME.opened  "opened STAMP": the link showed the offer then.
//   NAME.answer  "talvenplan-answer 1", then "decision accept|decline",
//                "name", "message" (percent-encoded), "at STAMP", "sha256
//                HEX" (what the customer's page hashed), "matched yes|no",
//                and "address ADDR" where the site asks for it.
// STAMP is UTC, "2026-12-09T17:13:05.123456Z". Each file is written whole
// or not at all, and the answer only once.
#ifndef TALVENPLAN_OFFER_ANSWER_H_
#define TALVENPLAN_OFFER_ANSWER_H_

#include <string_view>

#include "io/context.h"
#include "io/output.h"
#include "protocol/offer_line.h"
#include "protocol/request.h"

namespace talvenplan {

// Writes and syncs the slot of the offer `name` in `dir` for `line`, whose
// bytes after the offer line are `shown`. False, with no slot left, on
// failure. `mark`: the slot must carry the offer mark (no root confines the
// links).
bool WriteSlot(int dir, const char* name, const OfferLine& line,
               std::string_view shown, bool mark, const Context& context);

// After the link showed the offer `name` (in the working directory): marks
// it opened where it has a slot.
void MarkOpened(const char* name);

// g with the offer's key on NAME.slot (`place_dir`, `slot_name`): "s" and
// the slot's lines without the key, the opened line and the answer's
// lines. Refused for any other key.
int ReadAnswerState(int place_dir, const char* slot_name, std::string_view key,
                    const Context& context, Output& out);

// The answer posted for the offer `name` in the working directory: `body`
// is the form (application/x-www-form-urlencoded), `address` REMOTE_ADDR
// where the site records it, else nullptr.
int RunAnswer(const char* name, std::string_view body, const char* address,
              const Context& context, Output& out);

}  // namespace talvenplan

#endif  // TALVENPLAN_OFFER_ANSWER_H_
