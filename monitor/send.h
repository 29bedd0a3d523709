/*
 * send.h -- "quenta-monitor send": one connection, the commands written one
 * after the other, each answer printed on a line of its own as soon as it
 * is complete (answer_end.h).
 */
#ifndef QUENTA_MONITOR_SEND_H
#define QUENTA_MONITOR_SEND_H

#include "options.h"

namespace monitor {

/* Connects to the chamber of o, sends each command and prints its answer
 * in o.form on standard output; messages go to standard error. Stops at
 * the first command that gets no answer. Returns kExitOk when every
 * command was answered, else kExitUnreachable, kExitTimeout or
 * kExitClosed (options.h). Needs a QCoreApplication. */
int RunSend(const SendOptions &o);

}  // namespace monitor

#endif
