/*
 * answer_end.h -- where an answer ends. The protocol has no framing: an
 * answer is a text without terminator, and TCP may deliver it in several
 * segments (a serial bridge, or the simulator's --split-answers, sends
 * parts some tens of milliseconds apart).
 *
 * An answer is taken as complete at the first of:
 *   1. it has the length the protocol fixes for its command ("A0" 14
 *      characters, "Aa" 74, "S" 10, ...), and it begins with the
 *      command's letter;
 *   2. it has kAnswerMax bytes;
 *   3. the chamber closes the connection after sending some of it;
 *   4. no byte has come for the answer gap (default 200 ms) after the last;
 *   5. the timeout after the command was written, if any byte has come.
 * Rule 1 ends the usual polls at once, with no timer; rule 4 covers the
 * answers of open length (texts, lists) and answers that are not what
 * was asked. Bytes that come while no command waits are thrown away before
 * the next command is written, so a late part never joins a later answer;
 * line ends that come before an answer's first byte are dropped too.
 */
#ifndef QUENTA_MONITOR_ANSWER_END_H
#define QUENTA_MONITOR_ANSWER_END_H

#include <stddef.h>

#include "values.h"

namespace monitor {

constexpr int kAnswerMax = 2500;  /* bytes of one answer, as the test program reads */

/* The length at which the answer to command (length commandLength) is
 * complete when its first byte is firstByte, or 0 when the protocol leaves
 * it open or firstByte is not the command's letter. */
size_t FixedAnswerLength(const char *command, size_t commandLength, char firstByte);

/* True when an answer of length bytes to command is complete by rules 1
 * and 2 above. */
bool AnswerComplete(const char *command, size_t commandLength, const char *answer, size_t length);

/* Drops the line ends (CR, LF) at the start of the first bytes of an
 * answer, moving the rest to the front of bytes; returns the length left.
 * A chamber or a serial bridge that ends its answers with a line end may
 * send it late, after the next command went out: it belongs to the answer
 * before. */
size_t DropLineEnds(char *bytes, size_t length);

/* The bytes of an answer (length of them) to command that make the answer
 * itself: all of them, or the protocol's fixed length when more came. A
 * chamber may send a line end after an answer of fixed length; it stays
 * in the record but must not be read as part of the answer, since a
 * longer answer would read as another form ("A0 ..." with CR LF as the
 * all-channels form). */
size_t AnswerBody(const char *command, size_t commandLength, const char *answer, size_t length);

/* Decodes the body (see AnswerBody) of answer (length bytes, NUL after
 * them) to command into values; answer is left as it was. */
void DecodeAnswerBody(const char *command, size_t commandLength, char *answer, size_t length,
                      AnswerValues *values);

}  // namespace monitor

#endif
