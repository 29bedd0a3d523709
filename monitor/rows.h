/*
 * rows.h -- the result of one command sent to one chamber, and the CSV
 * rows that record it.
 *
 * Layout (long form, one row per decoded value; the command's columns are
 * repeated on each, and a result without values has one row whose value
 * columns are empty):
 *
 *   time,chamber,address,command,outcome,round_trip_ms,answer,
 *   value_name,value_channel,value_number,value_text
 *
 * The command, the answer and value_text are written escaped: printable
 * ASCII stays as it is, a backslash becomes two, any other byte "\xNN"
 * (two lower-case hexadecimal digits). A row so never holds a line end or
 * a non-ASCII byte, and every byte can be recovered. Fields holding a
 * comma or a double quote are quoted as RFC 4180 says.
 */
#ifndef QUENTA_MONITOR_ROWS_H
#define QUENTA_MONITOR_ROWS_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "values.h"

namespace monitor {

enum Outcome {
  kAnswered,    /* a whole answer came, one to the command (AnswerFits) */
  kInvalid,     /* a whole answer came, but not one to the command */
  kTimeout,     /* no connection or no byte of an answer within the timeout */
  kRefused,     /* the connection could not be made */
  kClosed,      /* the chamber closed the connection before the answer was
                   whole (the bytes that came are recorded) */
  kIncomplete,  /* the timeout came with part of an answer (recorded) */
  kSkipped,   /* not sent: the chamber is down until its next attempt, the
                 previous poll is still waiting, or an earlier command of
                 this poll failed */
};

/* "answered", "invalid", "timeout", "refused", "closed", "incomplete" or
 * "skipped". */
const char *OutcomeName(Outcome outcome);

struct CommandResult {
  int64_t wallMs = 0;             /* when it was written (or due), ms since 1970 UTC */
  const char *chamber = "";       /* UTF-8 */
  const char *address = "";
  const char *command = "";
  size_t commandLength = 0;
  Outcome outcome = kSkipped;
  int64_t roundTripNs = -1;       /* -1: none */
  const char *answer = "";        /* what came, any bytes */
  size_t answerLength = 0;
  const AnswerValues *values = nullptr;  /* decoded values of an answered command */
  bool sent = false;              /* the command was written */
  const char *reason = "";        /* why it failed, in English; "" when it did not */
  int chamberIndex = -1;          /* the chamber's place in the poller's list */
  const char *run = nullptr;      /* a run's rows: its id (the run and step columns follow) */
  int step = 0;                   /* the run's step, from 1; 0 before the first */
};

/* The header line, with its "\n". */
constexpr char kCsvHeader[] =
    "time,chamber,address,command,outcome,round_trip_ms,answer,"
    "value_name,value_channel,value_number,value_text\n";

/* The header of a run's file: the run and its step after the others. */
constexpr char kRunCsvHeader[] =
    "time,chamber,address,command,outcome,round_trip_ms,answer,"
    "value_name,value_channel,value_number,value_text,run,step\n";

/* Appends the result's rows, each ending in "\n", to out; with the run's
 * two columns when result.run is set. */
void AppendRows(const CommandResult &result, std::string &out);

/* Appends text (a chamber's name or address) as its CSV field: as it is,
 * quoted where it must be. */
void AppendNameField(const char *text, std::string &out);

/* Appends bytes escaped as above. */
void AppendEscaped(const char *bytes, size_t length, std::string &out);

/* Appends wallMs as "2024-05-01T12:00:00.123Z". */
void AppendUtcTime(int64_t wallMs, std::string &out);

/* Appends a number in the shortest form that reads back to the same
 * double ("23.5", "-0.1", "22", "1e+300"), with a point whatever the
 * locale; "inf", "-inf" and "nan" for the values that are no number. */
void AppendNumber(double value, std::string &out);

}  // namespace monitor

#endif
