/*
 * responder.h -- turns one command into the chamber's answer.
 *
 * Exports Respond(), which carries out one command (without line end) on a
 * Chamber and makes the answer text, and the fixed-width number formats
 * that place every value on the positions the program reads. No sockets.
 */
#ifndef QUENTA_SIM_RESPONDER_H
#define QUENTA_SIM_RESPONDER_H

#include <QByteArray>

#include "chamber.h"

namespace sim {

/* Longest command the chamber takes, in bytes. */
constexpr int kMaxCommandLength = 511;

struct Reply {
  enum Kind { Answered, Refused, Unknown };
  Kind kind;
  QByteArray answer;  /* Answered: the answer, never empty */
  QByteArray reason;  /* Refused and Unknown: why, for the log */
};

Reply Respond(Chamber &chamber, const QByteArray &command);

QByteArray FormatValue(double value);
QByteArray FormatRate(double rate);
QByteArray FormatClock(int64_t wallSeconds);

}  // namespace sim

#endif
