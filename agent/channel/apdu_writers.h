// The engine's AT transport on the agent's side: the AT response buffer
// and the two writers that carry the engine's commands over the AT
// channel. On MediaTek modules (platform types 0 and -1) the engine's
// AT+CSIM commands become logical-channel commands (AT+CCHO, AT+CGLA,
// AT+CCHC) and every reply is rewritten into the "+CSIM:" form.
#ifndef HBR_AGENT_APDU_WRITERS_H
#define HBR_AGENT_APDU_WRITERS_H

#include "lpa_at_transport.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The logical channel the module gave on the last open, as the character
// code '0' + n (0 before any open and after a close).
extern int32_t lpa_cgla_port;
// What the reply in hand answers: 0 an AT+CGLA, 1 an AT+CCHO, 2 an AT+CCHC.
extern int32_t lpa_cgla_mode;

enum { CGLA_MODE_APDU = 0, CGLA_MODE_OPEN = 1, CGLA_MODE_CLOSE = 2 };

// Rewrites the module's reply to the command of lpa_cgla_mode into the
// "+CSIM:" form in `out` (AT_TRANSPORT_BUFFER_SIZE zeroed bytes); updates
// lpa_cgla_port and lpa_cgla_mode.
void cgla2csim(const char *reply, char *out);

// The channel text of an AT+CCHO reply: behind the echo of the command,
// from the first digit after it up to the next "\r"; without the echo, from
// the start up to the first "\r". Leading line ends and unsolicited lines
// (starting with '+' or '^') are skipped first; a line "+CCHO: <n>" is the
// channel line itself, and its text starts behind "+CCHO:" and any spaces.
// Bounded by the reply's NUL: no digit gives empty text, no "\r" runs to
// the end.
std::string CchoChannelText(const char *reply);

// Test only: zeroes lpa_cgla_port, lpa_cgla_mode and read_mipc_buf.
void ResetApduWritersForTest();

#endif
