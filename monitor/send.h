/*
 * send.h -- "quenta-monitor send": one poll of one chamber by the poller
 * (poller.h), each command written when the answer before it has ended,
 * each answer printed on a line of its own as soon as it has ended.
 */
#ifndef QUENTA_MONITOR_SEND_H
#define QUENTA_MONITOR_SEND_H

#include "options.h"

namespace monitor {

/* Connects to the chamber of o, sends each command and prints its answer
 * in o.form on standard output, one line per answer whatever its bytes;
 * messages go to standard error. Stops at the first command without a
 * whole answer. Returns kExitOk when every command got its answer,
 * kExitInvalid when all got an answer but one was not an answer to its
 * command, else kExitUnreachable, kExitTimeout or kExitClosed (options.h).
 * Needs a QCoreApplication. */
int RunSend(const SendOptions &o);

}  // namespace monitor

#endif
