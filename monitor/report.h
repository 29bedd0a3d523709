/*
 * report.h -- the report of a test run: one self-contained HTML file that
 * shows the profile (its text and SHA-256), each step's tolerance, per
 * chamber and step the figures of run_record.h and trend plots of actual
 * value, set value and band, and the SHA-256 of the run's rows with how to
 * check it. Everything in it is computed from the CSV file, the journal
 * and the profile; the figures are in it as JSON too (the element
 * <script type="application/json" id="figures">), for scripts that check
 * them. uPlot and the report's own script and styles are inlined, allowed
 * by the hashes of a Content-Security-Policy that allows nothing else, so
 * the file loads nothing from anywhere and prints on A4 (docs/runs.md).
 *
 * "quenta-monitor report" writes it to a file; the monitor's HTTP server
 * serves the same at /report?run=ID.
 */
#ifndef QUENTA_MONITOR_REPORT_H
#define QUENTA_MONITOR_REPORT_H

#include <QString>
#include <string>

namespace monitor {

struct ReportInput {
  QString csvPath;        /* the run's CSV file */
  QString runId;          /* empty: the run the journal names */
  QString journalPath;    /* empty: the CSV file's path with ".journal" */
  QString profilePath;    /* empty: the path the journal's run record names */
};

/* Writes the report of input's run into *html. Returns false with *error
 * when a file cannot be read, the journal names no run or another one, or
 * the profile is not the one the run was made with (its SHA-256 differs).
 * Only reads files, and keeps no state: it may run on any thread, and
 * takes seconds for a long run's record (docs/performance.md), so a
 * server calls it off its event loop. */
bool WriteReport(const ReportInput &input, std::string *html, QString *error);

/* The Content-Security-Policy the report carries (in a meta element): its
 * inline scripts and styles by their SHA-256, nothing from anywhere. A
 * server sends it as the header of the report's answer. */
std::string ReportContentSecurityPolicy();

}  // namespace monitor

#endif
