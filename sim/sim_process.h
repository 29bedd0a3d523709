/*
 * sim_process.h -- for the tests: runs the built quenta-sim as a child
 * process on a loopback address, and a blocking TCP client to talk to it.
 *
 * Exports Escaped() (bytes as the log shows them), SimProcess (start with
 * options, wait until it listens, give it control commands and wait for
 * their replies, read its output, stop) and SimClient (connect, send one command, collect what arrives in a time
 * window, split into the reads that delivered it).
 * The path of the executable comes from QUENTA_SIM_PATH, which the test's
 * build defines.
 */
#ifndef QUENTA_SIM_PROCESS_H
#define QUENTA_SIM_PROCESS_H

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>
#include <functional>
#include <ostream>

/* How a failed test shows bytes: as a quoted string, not byte by byte. */
inline void PrintTo(const QByteArray &bytes, std::ostream *os) {
  *os << '"' << bytes.toStdString() << '"';
}

namespace sim {

constexpr quint16 kChamberPort = 1080;
constexpr int kStartTimeoutMs = 5000;

/* bytes as the simulator's log shows them: printable ASCII as it is, every
 * other byte (and the backslash) as \xNN. */
inline QByteArray Escaped(const QByteArray &bytes) {
  QByteArray out;
  for (unsigned char c : bytes)
    out += c >= 0x20 && c < 0x7F && c != '\\' ? QByteArray(1, static_cast<char>(c))
                                              : "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
  return out;
}

/* Makes the one QCoreApplication that QProcess and QTcpSocket need. */
inline void EnsureApplication() {
  static int argc = 1;
  static char name[] = "sim_test";
  static char *argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
}

class SimProcess {
 public:
  ~SimProcess() { stop(); }

  /* Starts quenta-sim with --listen address and options; true once it
   * prints its listening line. */
  bool start(const QString &address, const QStringList &options) {
    EnsureApplication();
    process_.start(QStringLiteral(QUENTA_SIM_PATH), QStringList{"--listen", address} + options);
    if (!process_.waitForStarted(kStartTimeoutMs)) return false;
    QElapsedTimer waited;
    waited.start();
    while (!output_.contains("listening") && waited.elapsed() < kStartTimeoutMs) {
      process_.waitForReadyRead(100);
      output_ += process_.readAllStandardOutput();
    }
    return output_.contains("listening");
  }

  /* Runs quenta-sim with options until it ends; returns its exit code and
   * leaves its output in *output. -1 when it does not end in time.
   * childSetup, when given, runs in the child before quenta-sim starts. */
  static int run(const QStringList &options, QByteArray *output,
                 const std::function<void()> &childSetup = {}) {
    EnsureApplication();
    QProcess process;
    if (childSetup) process.setChildProcessModifier(childSetup);
    process.start(QStringLiteral(QUENTA_SIM_PATH), options);
    if (!process.waitForFinished(kStartTimeoutMs)) return -1;
    *output = process.readAllStandardOutput() + process.readAllStandardError();
    return process.exitCode();
  }

  /* Writes line and a line end to the simulator's standard input and
   * returns its reply ("ok ..." or "error ..."), or an empty array when
   * none comes in time. Log lines in between are kept for output(). */
  QByteArray control(const QByteArray &line) {
    process_.write(line + '\n');
    process_.waitForBytesWritten(kStartTimeoutMs);
    QElapsedTimer waited;
    waited.start();
    QByteArray reply;
    while ((reply = takeReply()).isEmpty() && waited.elapsed() < kStartTimeoutMs) {
      process_.waitForReadyRead(100);
      output_ += process_.readAllStandardOutput();
    }
    return reply;
  }

  /* All the simulator wrote on standard output so far. */
  QByteArray output() {
    process_.waitForReadyRead(50);
    output_ += process_.readAllStandardOutput();
    return output_;
  }

  /* For settings before start(): standard input, a child setup. */
  QProcess &process() { return process_; }

  QByteArray standardError() {
    process_.waitForReadyRead(50);
    error_ += process_.readAllStandardError();
    return error_;
  }

  void stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.kill();
    process_.waitForFinished(kStartTimeoutMs);
  }

 private:
  /* The next whole reply line after the last one taken; empty if none. */
  QByteArray takeReply() {
    qsizetype end;
    while ((end = output_.indexOf('\n', replyFrom_)) >= 0) {
      QByteArray line = output_.mid(replyFrom_, end - replyFrom_);
      replyFrom_ = end + 1;
      if (line.startsWith("ok ") || line.startsWith("error ")) return line;
    }
    return QByteArray();
  }

  QProcess process_;
  QByteArray output_;
  qsizetype replyFrom_ = 0;
  QByteArray error_;
};

class SimClient {
 public:
  bool connect(const QString &address) {
    EnsureApplication();
    socket_.connectToHost(address, kChamberPort);
    return socket_.waitForConnected(kStartTimeoutMs);
  }

  void send(const QByteArray &command) {
    socket_.write(command);
    socket_.waitForBytesWritten(kStartTimeoutMs);
  }

  /* Collects, for windowMs, what arrives; one list entry per read. */
  QList<QByteArray> collect(int windowMs) {
    QList<QByteArray> reads;
    QElapsedTimer window;
    window.start();
    for (qint64 left = windowMs; left > 0; left = windowMs - window.elapsed()) {
      if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(static_cast<int>(left))) break;
      reads.append(socket_.readAll());
    }
    return reads;
  }

  /* Sends command and returns the first read of its answer (empty when
   * none comes within timeoutMs). */
  QByteArray ask(const QByteArray &command, int timeoutMs = 2000) {
    send(command);
    if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(timeoutMs)) return QByteArray();
    return socket_.readAll();
  }

  bool waitForClosed(int timeoutMs) {
    if (socket_.state() == QAbstractSocket::UnconnectedState) return true;
    return socket_.waitForDisconnected(timeoutMs);
  }

  QTcpSocket &socket() { return socket_; }

 private:
  QTcpSocket socket_;
};

}  // namespace sim

#endif
