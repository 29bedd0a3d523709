/*
 * monitor_support.h -- for the monitor's tests: reading its CSV back
 * (RFC 4180 and the byte escapes), running quenta-monitor and quenta-sim as
 * child processes on loopback, fetching the metrics over HTTP, and a
 * chamber that misbehaves on purpose. Waits keep the event loop running,
 * so that a misbehaving chamber of the test process answers meanwhile.
 * The built programs' paths come from QUENTA_MONITOR_PATH and
 * QUENTA_SIM_PATH, which the test's build defines.
 */
#ifndef QUENTA_MONITOR_SUPPORT_H
#define QUENTA_MONITOR_SUPPORT_H

#include <QByteArray>
#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <functional>
#include <string>
#include <vector>

/* The bytes of a field written escaped ("\\" and "\xNN"). */
std::string Unescape(const std::string &field);

/* The fields of one CSV line (no line end) as RFC 4180 reads them; empty
 * when the line is malformed (a quote left open, text after a closing
 * quote). */
std::vector<std::string> ParseCsvLine(const std::string &line);

/* Every line of the file after the header, parsed. *whole is set false when
 * the file does not end in a line end, a line does not have 11 fields, or
 * the header is missing or repeated. */
std::vector<std::vector<std::string>> ReadCsvRows(const QString &path, bool *whole);

/* Writes bytes as the whole of the file at path; false when it cannot. */
bool WriteFile(const QString &path, const QByteArray &bytes);

/* Makes the QCoreApplication the tests need, once. */
void EnsureApp();

/* Runs cond on the event loop until it holds or ms pass; returns cond(). */
bool WaitFor(const std::function<bool()> &cond, int ms);

struct RunResult {
  int code = -1;          /* -1: did not end in time, or crashed */
  QByteArray out, err;
};

/* Runs quenta-monitor with args to its end (at most ms). */
RunResult RunMonitor(const QStringList &args, int ms = 30000);

/* A child process (quenta-monitor or quenta-sim) that a test starts, stops
 * and reads. */
class Child {
 public:
  ~Child();
  /* quenta-sim --verbose --listen address options; true once it listens. */
  bool startSim(const QString &address, const QStringList &options);
  /* quenta-monitor args; true once started. fileSizeLimit > 0: the
   * monitor may write no file beyond that many bytes (a full disk: its
   * writes then fail with EFBIG). */
  bool startMonitor(const QStringList &args, qint64 fileSizeLimit = 0);
  /* The process id, 0 when not running. */
  qint64 pid() const { return process_.processId(); }
  /* SIGTERM, then waits for the end; returns the exit code (-1: none). */
  int terminate(int ms = 30000);
  void kill9();
  bool running() const { return process_.state() != QProcess::NotRunning; }
  QByteArray output();  /* standard output so far */
  QByteArray errors();  /* standard error so far */

 private:
  QProcess process_;
  QByteArray out_, err_;
};

/* GET (or method) path from address:port over HTTP/1.1; the body, or
 * empty. head, when given, gets the status line and the headers. */
QByteArray HttpGet(const QString &address, quint16 port, const char *path, QByteArray *head = nullptr,
                   const char *method = "GET");

/* The value of the sample "name{labels}" in metrics text, NaN if absent. */
double MetricValue(const QByteArray &text, const QByteArray &sample);

/* A chamber on address:1080 in this process: "garbage" answers every
 * command with bytes that are no answer, "closer" closes the connection on
 * every command, "line ends" answers A0 with "A0 022.0 025.0\r\n" in one
 * write and S with "S111100001" and, 30 ms later, "\r\n" (as a serial
 * bridge that ends every answer with a line end may). */
class MisbehavingChamber : public QObject {
 public:
  enum Kind { Garbage, Closer, LineEnds };
  MisbehavingChamber(Kind kind, const QString &address);
  bool listening() const { return server_.isListening(); }

 private:
  Kind kind_;
  QTcpServer server_;
};

#endif
