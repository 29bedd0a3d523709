/*
 * run_commands.h -- the forms "quenta-monitor run" (run_main.cpp),
 * "quenta-monitor wait-stable" (wait_stable.cpp) and "quenta-monitor
 * report" (report_main.cpp). Each needs a QCoreApplication and returns the
 * exit code (options.h).
 */
#ifndef QUENTA_MONITOR_RUN_COMMANDS_H
#define QUENTA_MONITOR_RUN_COMMANDS_H

#include "options.h"

namespace monitor {

/* Runs (or resumes, or with --dry-run shows, or with --abort ends) the
 * profile of o on its chambers. Returns kExitOk when every chamber
 * completed the profile; kExitUsage for a bad profile; kExitSetup when a
 * file or the metrics endpoint cannot be used; kExitRefused when the run
 * was refused before any write; kExitAborted when a chamber's run ended
 * otherwise; or the CSV file's code when rows were lost. */
int RunRun(const RunOptions &o);

/* Polls o's chamber until its channel is stable. Returns kExitOk (stable),
 * kExitNotStable (not within the timeout), kExitUnreachable (no answer)
 * or kExitStopped (stopped, or its error channel set). */
int RunWaitStable(const WaitStableOptions &o);

/* Writes the report of o's run to o.outPath. Returns kExitOk, or
 * kExitSetup when a file cannot be read or written, the journal is not of
 * the run, or the profile is not the run's. */
int RunReport(const ReportOptions &o);

}  // namespace monitor

#endif
