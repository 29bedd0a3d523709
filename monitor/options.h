/*
 * options.h -- the command line of quenta-monitor, the chambers file and
 * the checks every chamber address and every command passes before the
 * first connection is made.
 *
 * Forms: "quenta-monitor [OPTIONS] [ADDRESS...]" polls chambers until
 * stopped; "quenta-monitor send [OPTIONS] ADDRESS COMMAND..." sends the
 * commands once and prints their answers; run, wait-stable and report
 * (run_commands.h). Nothing here touches the network.
 */
#ifndef QUENTA_MONITOR_OPTIONS_H
#define QUENTA_MONITOR_OPTIONS_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

namespace monitor {

constexpr quint16 kChamberPort = 1080;
constexpr int kCommandMax = 511;     /* Latin-1 characters of one command */
constexpr int kNameMax = 64;         /* characters of a chamber's name */

/* Exit codes of both forms; docs/monitor.md and the man page list them. */
enum ExitCode {
  kExitOk = 0,
  kExitSetup = 1,        /* the CSV file or the metrics endpoint cannot be used */
  kExitUsage = 2,        /* bad option, address, command or chambers file */
  kExitUnreachable = 3,  /* send: no connection (refused, unreachable, timed out) */
  kExitTimeout = 4,      /* send: a command got no answer within the timeout */
  kExitClosed = 5,       /* send: the chamber closed the connection before the answer was whole */
  kExitRowsLost = 6,     /* rows lost: beyond --queue-limit, not on the disk at the end, or the
                            CSV file given up after its syncs kept failing */
  kExitInvalid = 7,      /* send: an answer was not one to its command */
  kExitNotStable = 8,    /* wait-stable: not stable within the timeout */
  kExitStopped = 9,      /* wait-stable: the chamber is stopped or its error channel set */
  kExitRefused = 10,     /* run: refused before any write (limits, journal of an ended run) */
  kExitAborted = 11,     /* run: ended on a chamber other than by completing the profile */
};

struct ChamberEntry {
  QString name;      /* the name from the chambers file, else the address */
  QString host;      /* IP literal or host name, without brackets */
  quint16 port = kChamberPort;
  int line = 0;      /* line of the chambers file, 0 for an argument */

  /* "host:port", with brackets around an IPv6 literal. */
  QString address() const;
};

/* Output forms of send. */
enum class SendForm { Hex, Raw, Interpreted, Json };

struct MonitorOptions {
  QList<ChamberEntry> chambers;
  QList<QByteArray> commands;      /* Latin-1 bytes, as written */
  int everyMs = 5000;
  int timeoutMs = 2000;
  int gapMs = 200;                 /* quiet time that ends an answer of open length */
  QString csvPath;                 /* empty: no CSV */
  bool metrics = false;
  QHostAddress metricsAddress;
  quint16 metricsPort = 0;
  qint64 durationMs = 0;           /* 0: until a signal; up to 10,000,000 s, beyond a QTimer's int */
  int syncIntervalMs = 0;          /* least time between two syncs of the CSV file; 0: at once */
  qint64 queueLimitBytes = 256ll << 20;  /* rows of the CSV file waiting in memory at most */
};

struct SendOptions {
  ChamberEntry chamber;
  QList<QByteArray> commands;
  int timeoutMs = 2000;
  int gapMs = 200;
  SendForm form = SendForm::Raw;
  bool english = true;
};

/* "quenta-monitor run PROFILE [ADDRESS...]": a test run (run.h). */
struct RunOptions {
  QString profilePath;
  QList<ChamberEntry> chambers;
  QString csvPath;                 /* default: the profile's name with .csv, here */
  QString journalPath;             /* default: the CSV file's name with .journal */
  QString summaryPath;             /* default: the CSV file's name with .summary.json */
  int timeoutMs = 2000;
  int gapMs = 200;
  int syncIntervalMs = 0;
  bool metrics = false;
  QHostAddress metricsAddress;
  quint16 metricsPort = 0;
  QString onAlarm;                 /* shell command run for each alarm */
  bool dryRun = false;
  bool abort = false;              /* end the run in the journal with the profile's abort action */
  double timeScale = 1;            /* test only: run time per real time, against the simulator */
};

/* "quenta-monitor wait-stable ADDRESS ...". */
struct WaitStableOptions {
  ChamberEntry chamber;
  int channel = 0;
  double band = 0;
  double drift = -1;               /* default: the band */
  qint64 windowMs = 0;
  qint64 waitMs = 0;               /* --timeout: how long to wait for stability */
  int everyMs = 1000;
  int timeoutMs = 2000;            /* of one command */
  int gapMs = 200;
  double timeScale = 1;
};

/* "quenta-monitor report CSV ...": the report of a run (report.h). */
struct ReportOptions {
  QString csvPath;
  QString runId;                   /* empty: the journal's run */
  QString journalPath;             /* default: the CSV file's name with .journal */
  QString profilePath;             /* empty: the path the journal's run record names */
  QString outPath;                 /* default: the CSV file's name with .report.html */
};

enum class Action { Monitor, Send, Run, WaitStable, Report, Help, Version };

struct Invocation {
  Action action = Action::Monitor;
  MonitorOptions monitor;
  SendOptions send;
  RunOptions run;
  WaitStableOptions wait;
  ReportOptions report;
};

/* Parses the arguments after the program's name: the first word chooses
 * the form (send, run, wait-stable, report; else polling), e.g. {"send",
 * "192.0.2.7", "A0", "--mode", "json"} or {"--chambers", "lab.txt"}.
 * Returns true with *out filled, or false with a one-line *error (no
 * program name, no newline): every failure is a usage error. Reads the
 * chambers file named by --chambers. */
bool ParseArguments(const QStringList &args, Invocation *out, QString *error);

/* Reads "ADDRESS", "ADDRESS:PORT" or "[IPV6]:PORT": the address as
 * address.h reads a host text (dotted decimal IPv4 without leading zeros,
 * an IPv6 literal in brackets when a port follows, or a host name).
 * Returns true and fills host and port (port defaults to defaultPort), or
 * false with *error naming the text and what is wrong with it. */
bool ParseChamberAddress(const QString &text, quint16 defaultPort, ChamberEntry *out,
                         QString *error);

/* Turns one command as typed into the bytes written: 1 to 511 characters,
 * each Latin-1 (U+0001 to U+00FF). Returns false with *error otherwise. */
bool CommandBytes(const QString &text, QByteArray *out, QString *error);

/* Reads the chambers file text (UTF-8, with or without a byte order mark;
 * lines end in LF, CR LF or CR): one chamber a line, "ADDRESS [NAME]", the
 * name being the rest of the line; blank lines and everything from a "#"
 * that starts a word are ignored. fileName only labels messages.
 * Appends to *out and returns true, or returns false with *error listing
 * every bad line as "FILE:LINE: reason", one per line. */
bool ParseChambersText(const QByteArray &text, const QString &fileName, quint16 defaultPort,
                       QList<ChamberEntry> *out, QString *error);

/* The text --help prints. */
const char *UsageText();

}  // namespace monitor

#endif
