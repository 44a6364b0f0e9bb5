// Faults on demand and the command language that scripts them and tweaks the register's state.
// The same parser serves the program's options (--fault, --script), the control folder's
// commands file and the in-process API, so every test talks to the simulator in one language.
//
// One statement per line; a line whose first non-blank character is "#" is a comment. Command
// codes are hex (0x85, 85h) or decimal, a command's name in the command table (close-receipt), or
// "all" for every command. Amounts are in currency units with up to two decimals (12.5 is 1250
// hundredths).
//
//   fault CMD KIND [ARGS] [once | always | times N] [after N | from N]
//     KIND: silence            no reply at all; the request is lost
//           nak                a NAK byte and nothing else; the request is not executed
//           garbage [HEX]      these bytes before the ACK (default FF 00 FF 55); executed
//           cut N              only the first N bytes of the reply (ACK counted); executed
//           status CODE        reply with this status word; not executed, recorded for 0xD7
//           delay MS           the reply comes MS milliseconds late; executed
//           reply [HEX]        reply with status 0 and exactly these data bytes; not executed
//           lost-reply         executed, but the reply never leaves the register
//           paper-out          the paper runs out: this and later printing commands fail
//           cover-open         the cover opens: this and later printing commands fail
//           dead MOMENT for N | dead MOMENT until TIME
//                              the line dies with this request and stays dead for N further
//                              requests or for TIME (2s, 500ms, steady clock): every request then
//                              is lost. MOMENT: lost (this request is not executed), executed (it
//                              is, its reply is lost), restart (the register restarts first and
//                              drops its open document)
//     once = times 1; always is the default, once for dead. after N lets N matching requests
//     through first; from N makes the Nth matching request the first one hit (from 1 = at once).
//   clear [CMD]                remove every fault and revive a dead line, or one command's faults
//   restart                    the register restarts: its open document is dropped, faults stay
//   reset                      a new register (registered, shift closed); faults removed
//   reset unregistered         a new register with an FN ready for registration
//   set shift closed|open|expired
//   set shift-number N | shift-receipts N | doc-number N | backlog N
//   set cash AMOUNT
//   set counter TYPE [count N] [amount A] [corrections N] [correction-amount A]   (shift counters)
//   set fn-state N | fn-warnings N | mode N | taxation N | ffd N
//   set attr TAG text TEXT | flag 0|1 | byte N | hex HEX | none
//   set kkt-number TEXT | fn-serial TEXT | kkt-serial TEXT | cashier TEXT | error CODE [TEXT]
//   set ofd online|offline | paper ok|out | cover closed|open
//   set clock YYYY-MM-DDThh:mm[:ss] | now
//   set processing MS | baud N
#pragma once

#include <string>
#include <string_view>

#include "sim_device.h"
#include "sim_faults.h"

namespace vesklink::sim {

// Line timing: the serving loop reads these before each reply.
struct LinkSettings {
    unsigned baud = 0;  // 0: no pacing
    unsigned processingMs = 0;  // device processing time added to every reply
};

// What a script may change.
struct ScriptTarget {
    Device& device;
    FaultTable& faults;
    LinkSettings& settings;
};

// Runs a script. Returns the errors, one line each ("line N: ..."), or empty text when every
// statement was carried out. A failing statement changes nothing; the others still run.
std::string ExecuteScript(std::string_view script, ScriptTarget target);

}  // namespace vesklink::sim
