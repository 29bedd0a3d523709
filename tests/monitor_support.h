/*
 * monitor_support.h -- for the monitor's tests: reading its CSV back
 * (RFC 4180 and the byte escapes), running quenta-monitor and quenta-sim as
 * child processes on loopback, fetching the metrics over HTTP, and a
 * chamber that misbehaves on purpose, and file operations that fail on
 * purpose. Waits keep the event loop running,
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
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "file_env.h"

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
  /* Writes a control line (e.g. "split 1 300") to the simulator's standard
   * input; true once it replied "ok" to it. */
  bool control(const QByteArray &line);
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

/* The CSV writer's file operations (monitor/file_env.h) with faults on
 * demand; each passes to the system until armed. */
class FaultEnv : public monitor::FileEnv {
 public:
  std::atomic<int> badRead{0};          /* the pread that fails, counting from 1; 0: none */
  std::atomic<bool> shortRead{false};   /* it then ends early instead of failing with EIO */
  std::atomic<int64_t> room{-1};        /* bytes the disk still takes, then ENOSPC; -1: no end */
  std::atomic<int> syncErrors{0};       /* syncs to fail with EIO; each loses what it was to sync */

  ssize_t pread(int fd, void *buffer, size_t length, off_t offset) override;
  ssize_t write(int fd, const void *bytes, size_t length) override;
  /* A failing sync cuts the file back to its length at its last good sync,
   * as if the pages it was to write had been dropped. */
  int fdatasync(int fd) override;

 private:
  std::atomic<int> reads_{0};
  std::mutex mutex_;
  std::map<std::pair<dev_t, ino_t>, off_t> synced_;  /* per file: its length at its last good sync */
};

#endif
