/*
 * control_commands.h -- the control commands that change a chamber at run
 * time ("slow 3 200", "trickle all 50", "door 2 open"), read from the
 * words of a control line, and what each does to one chamber.
 *
 * Exports struct ControlCommand and ReadControlCommand(). Which chambers
 * a command names (its second word) is the fleet's to find; see fleet.h.
 */
#ifndef QUENTA_SIM_CONTROL_COMMANDS_H
#define QUENTA_SIM_CONTROL_COMMANDS_H

#include <QByteArray>
#include <QList>

#include "chamber.h"
#include "server.h"

namespace sim {

/* The argument of a command, as read: a number (a whole number, the value
 * of two hexadecimal digits, 1 for a door open), or a text. */
struct ControlValue {
  int number = 0;
  QByteArray text;
};

struct ControlCommand {
  const char *name;
  const char *usage;  /* e.g. "slow K MS" */
  /* Carries the command out on one chamber and its server. */
  void (*apply)(Server &server, Chamber &chamber, const ControlValue &value);
  bool listens;       /* the chamber listens again afterwards */
};

/* words: a control line cut at blanks, at least one. Returns the command
 * the first word names, with *value read from the words after the
 * chamber; nullptr, with *why, for an unknown command or words that do not
 * fit it. */
const ControlCommand *ReadControlCommand(const QList<QByteArray> &words, ControlValue *value,
                                         QByteArray *why);

/* Accepts a whole number from low to high written in decimal digits only;
 * false for anything else. */
bool ParseWhole(const QByteArray &text, int low, int high, int *value);

}  // namespace sim

#endif
